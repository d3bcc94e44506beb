#include "Fixtures.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

#include "sim/AtaDrive.h"

namespace brisquel::benchmarks {

AtaAnswer NullDeviceIo::AtaPassThrough(OsHandle, const AtaRequest& request) {
  ++requests;
  AtaAnswer answer;
  answer.returned = request.regs;
  answer.returned.features = 0x00;  // error
  answer.returned.command = 0x50;   // status: DRDY, DSC
  answer.registersReturned = true;
  answer.bytesMoved = static_cast<std::uint32_t>(request.data.size());
  return answer;
}

ScsiAnswer NullDeviceIo::ScsiPassThrough(OsHandle, const ScsiRequest& request) {
  ++requests;
  ScsiAnswer answer;  // GOOD
  answer.bytesMoved = static_cast<std::uint32_t>(request.data.size());
  return answer;
}

Timing Interleaved(int rounds, const std::function<void()>& brisquel,
                   const std::function<void()>& floor) {
  Timing best{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
  for (int i = 0; i < rounds; ++i) {
    best.figure = std::min(best.figure, Seconds(brisquel));
    best.floor = std::min(best.floor, Seconds(floor));
  }
  return best;
}

void Report(benchmark::State& bench, double figure, double floor, const std::string& unit,
            const std::string& goal) {
  bench.counters["figure"] = figure;
  bench.counters["floor"] = floor;
  bench.counters["ratio"] = floor > 0 ? figure / floor : 0;
  bench.SetLabel(unit + "|" + goal);
}

void ResetPeakRss() {
  // "5" resets the peak resident size (Linux 4.0 and later).
  std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakRssMiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
    status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return 0;
}

bool RegisterDownloads(const char* name, DownloadBenchmark function,
                       const std::vector<DownloadCase>& cases) {
  for (const DownloadCase& c : cases) {
    benchmark::RegisterBenchmark((std::string(name) + "/" + c.name).c_str(), function, c.kind,
                                 c.mode)
        ->Iterations(1);
  }
  return true;
}

const std::string& SixteenMiBFirmwareFile() {
  static const std::string path = [] {
    const auto p = std::filesystem::temp_directory_path() / "brisquel-bench-16mib.bin";
    const auto image = sim::MakeBenchFirmware("BENCH16M", kImageBlocks);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return p.string();
  }();
  return path;
}

}  // namespace brisquel::benchmarks
