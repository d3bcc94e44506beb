// A 16 MiB firmware download, the largest a download can carry, on the default
// bench through each transport: its time against one copy of 16 MiB (almost
// all of it is the simulated drive), the longest stretch without a message
// pump, and how much firmware still goes out once Break is pressed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "Fixtures.h"
#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "sim/Bench.h"

namespace brisquel::benchmarks {
namespace {

constexpr std::size_t kImageBytes = std::size_t{kImageBlocks} * kSectorSize;
constexpr std::uint8_t kDownloadMicrocode = 0x92;

// Counts the firmware bytes handed to the drive while `counting` is on: PIO
// data words, and the data of DOWNLOAD MICROCODE pass-through requests. The
// window's thread turns it on at a pump while a request may be under way on
// the worker.
class FirmwareMeter {
 public:
  std::atomic<bool> counting = false;
  std::atomic<std::uint64_t> bytes = 0;
};

class MeteredPorts : public ForwardingPorts {
 public:
  MeteredPorts(PortLibrary& inner, FirmwareMeter& meter) : ForwardingPorts(inner), meter_(meter) {}
  void WriteIoPortWord(std::uint16_t p, std::uint16_t v) override {
    if (meter_.counting) meter_.bytes += 2;
    ForwardingPorts::WriteIoPortWord(p, v);
  }

 private:
  FirmwareMeter& meter_;
};

class MeteredIo : public ForwardingDeviceIo {
 public:
  MeteredIo(DeviceIo& inner, FirmwareMeter& meter) : ForwardingDeviceIo(inner), meter_(meter) {}
  AtaAnswer AtaPassThrough(OsHandle h, const AtaRequest& request) override {
    if (meter_.counting && request.regs.command == kDownloadMicrocode) {
      meter_.bytes += request.data.size();
    }
    return ForwardingDeviceIo::AtaPassThrough(h, request);
  }
  ScsiAnswer ScsiPassThrough(OsHandle h, const ScsiRequest& request) override {
    // The command byte: 9 in the 12-byte form, 14 in the 16-byte one.
    const std::uint8_t command = request.cdb.bytes[request.cdb.length == 16 ? 14 : 9];
    if (meter_.counting && command == kDownloadMicrocode) meter_.bytes += request.data.size();
    return ForwardingDeviceIo::ScsiPassThrough(h, request);
  }
  // As the system's would: the request waited for on a worker while the
  // window pumps. The bench answers inline otherwise.
  bool CallsBlock() override { return blocking; }
  bool blocking = false;

 private:
  FirmwareMeter& meter_;
};

// The default bench with the target on one of its drives by the transport.
struct BenchRig {
  explicit BenchRig(TransportKind kind) {
    host.file = SixteenMiBFirmwareFile();
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
  }
  void Click(std::uint8_t mode) { completed = ClickDlmc(ctx, mode).Completed(); }
  bool Ok() const { return completed; }

  std::unique_ptr<sim::Bench> sim = sim::Bench::Default();
  TransportState state;
  FirmwareMeter meter;
  MeteredPorts ports{sim->Ports(), meter};
  MeteredIo io{sim->Io(), meter};
  QuietHost host;
  OperationContext ctx{state, ports, io, host};
  bool completed = false;
};

void BenchDrive(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  BenchRig rig(kind);
  std::vector<std::uint8_t> from(kImageBytes, 0x5A), to(kImageBytes, 1);
  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        3, [&] { rig.Click(mode); },
        [&] {
          std::memcpy(to.data(), from.data(), from.size());
          benchmark::ClobberMemory();
        });
  }
  if (!rig.Ok()) bench.SkipWithError(("download failed: " + rig.host.last).c_str());
  Report(bench, timing.figure * 1e3, timing.floor * 1e3, "ms (bench drive included)",
         "figure only");
}

const bool benchDrive = RegisterDownloads(
    "BenchDrive", BenchDrive,
    {{"Pio07", TransportKind::pio, kDlmcPermanent},
     {"AtaPassThrough07", TransportKind::ataPassThrough, kDlmcPermanent},
     {"Pio03", TransportKind::pio, kDlmcSegmented},
     {"AtaPassThrough03", TransportKind::ataPassThrough, kDlmcSegmented},
     // Over SCSI a whole image goes in one command whose length SAT takes from
     // the 8-bit count: 16 MiB in mode 07 is refused, the segmented mode carries it.
     {"ScsiPassThrough03", TransportKind::scsiPassThrough, kDlmcSegmented}});

// The longest time the window goes without a message pump during one click,
// the stretches before the first pump and after the last one included. The
// pass-through requests go to the bench drive as to the system's device I/O:
// on a worker, while the window pumps.
void PumpGap(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  BenchRig rig(kind);
  rig.io.blocking = true;
  using Clock = std::chrono::steady_clock;
  Clock::time_point last;
  Clock::duration longest{};
  // The pump that ended the longest stretch; the click's end counts as one more.
  std::uint64_t stretches = 0, endedAt = 0;
  rig.host.onPump = [&] {
    const auto now = Clock::now();
    if (now - last > longest) {
      longest = now - last;
      endedAt = stretches + 1;
    }
    ++stretches;
    last = now;
  };
  for (auto _ : bench) {
    rig.host.pumps = stretches = 0;
    last = Clock::now();
    rig.Click(mode);
    rig.host.onPump();
  }
  if (!rig.Ok()) bench.SkipWithError(("download failed: " + rig.host.last).c_str());
  Report(bench, std::chrono::duration<double, std::milli>(longest).count(), 0,
         "ms longest without a pump", "< 100 ms");
  bench.counters["pumps"] = double(rig.host.pumps);
  bench.counters["ended_at_pump"] = double(endedAt);
}

const bool pumpGap =
    RegisterDownloads("PumpGap", PumpGap,
                      {{"Pio07", TransportKind::pio, kDlmcPermanent},
                       {"Pio03", TransportKind::pio, kDlmcSegmented},
                       {"AtaPassThrough07", TransportKind::ataPassThrough, kDlmcPermanent},
                       {"AtaPassThrough03", TransportKind::ataPassThrough, kDlmcSegmented},
                       {"ScsiPassThrough03", TransportKind::scsiPassThrough, kDlmcSegmented}});

// Break pressed at a pump in the middle of the download: the firmware bytes
// that still go to the drive after it. The sector or request under way has
// ended before the pump runs, so nothing more should follow.
void BreakMidDownload(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  std::uint64_t pumps = 0;
  {
    BenchRig rig(kind);
    rig.io.blocking = true;
    rig.Click(mode);
    pumps = rig.host.pumps;
  }
  if (pumps == 0) {
    bench.SkipWithError("no message pump during the download: Break cannot be seen");
    for (auto _ : bench) {
    }
    return;
  }
  BenchRig rig(kind);
  rig.io.blocking = true;
  rig.host.onPump = [&] {
    if (rig.host.pumps == pumps / 2) {
      rig.state.BreakFlag = true;
      rig.meter.counting = true;
    }
  };
  for (auto _ : bench) rig.Click(mode);
  Report(bench, double(rig.meter.bytes), 0, "firmware bytes sent after Break", "= 0");
  bench.counters["pumps"] = double(pumps);
}

const bool breakMidDownload =
    RegisterDownloads("BreakMidDownload", BreakMidDownload,
                      {{"Pio07", TransportKind::pio, kDlmcPermanent},
                       {"Pio03", TransportKind::pio, kDlmcSegmented},
                       {"AtaPassThrough07", TransportKind::ataPassThrough, kDlmcPermanent},
                       {"AtaPassThrough03", TransportKind::ataPassThrough, kDlmcSegmented},
                       {"ScsiPassThrough03", TransportKind::scsiPassThrough, kDlmcSegmented}});

}  // namespace
}  // namespace brisquel::benchmarks

BENCHMARK_MAIN();
