// A 16 MiB firmware download, the largest a download can carry, on the default
// bench through each transport, against the floor of copying 16 MiB once.
// Each run reports the process's peak resident memory so far; run one
// benchmark per process (--benchmark_filter) to read it per transport.
#include <benchmark/benchmark.h>
#include <sys/resource.h>  // getrusage: the benchmark runs on Linux only

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "sim/Bench.h"

namespace brisquel {
namespace {

constexpr std::uint32_t kBlocks = 32768;  // 16 MiB

class QuietHost : public OperationHost {
 public:
  void PumpMessages() override {}
  bool KeyHeld(Key) override { return false; }
  void LogLine(const std::string& text) override { last = text; }
  std::optional<std::string> OpenFirmwareDialog() override { return file; }
  void SetOperationButtonsEnabled(bool) override {}

  std::string file;
  std::string last;
};

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

const std::string& FirmwareFile() {
  static const std::string path = [] {
    const auto p = std::filesystem::temp_directory_path() / "brisquel-bench-16mib.bin";
    const auto image = sim::MakeBenchFirmware("BENCH16M", kBlocks);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return p.string();
  }();
  return path;
}

// One DLMC click (preamble, file, download, log) per iteration.
void Download(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  const auto sim = sim::Bench::Default();
  TransportState state;
  QuietHost host;
  host.file = FirmwareFile();
  OperationContext ctx(state, sim->Ports(), sim->Io(), host);
  DriveTarget& target = state.DriveTarget;
  target.kind = kind;
  target.basePort = 0x1F0;
  const auto open = [&](std::size_t disk) {
    return sim->Io().CreateFileA(sim::DefaultDiskPath(disk), GENERIC_ALL_,
                                 FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_,
                                 FILE_ATTRIBUTE_NORMAL_);
  };
  target.ataPassHandle = open(0);  // the SATA drive
  target.scsiHandle = open(2);     // the drive behind the USB bridge

  for (auto _ : bench) {
    if (!DownloadMicrocodeButton(ctx, mode).Completed()) {
      bench.SkipWithError(("download failed: " + host.last).c_str());
      break;
    }
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * kBlocks * 512);
  bench.counters["peak_rss_MiB"] = PeakRssMiB();
}

void BM_CopyBaseline(benchmark::State& bench) {
  std::vector<std::uint8_t> from(std::size_t{kBlocks} * 512, 0x5A);
  std::vector<std::uint8_t> to(from.size());
  for (auto _ : bench) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * from.size());
  bench.counters["peak_rss_MiB"] = PeakRssMiB();
}

constexpr std::uint8_t kSegmented = 0x03, kPermanent = 0x07;

BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Download, Permanent07_Pio, TransportKind::pio, kPermanent)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Download, Permanent07_AtaPassThrough, TransportKind::ataPassThrough, kPermanent)
    ->Unit(benchmark::kMillisecond);
// Over SCSI a whole image goes in one command whose length SAT takes from the
// 8-bit count: 16 MiB in mode 07 is refused, so the segmented mode carries it.
BENCHMARK_CAPTURE(Download, Segmented03_ScsiPassThrough, TransportKind::scsiPassThrough, kSegmented)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Download, Segmented03_Pio, TransportKind::pio, kSegmented)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Download, Segmented03_AtaPassThrough, TransportKind::ataPassThrough, kSegmented)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brisquel

BENCHMARK_MAIN();
