// What Brisquel itself costs on devices that cost nothing: the 16 MiB download
// over the pass-through transports, the PIO path, Identify and the vendor
// status read, each against the floor measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <variant>
#include <vector>

#include "Fixtures.h"
#include "ops/FirmwareFile.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "ops/VendorChannel.h"
#include "transport/AtaProtocol.h"
#include "transport/Bytes.h"
#include "transport/DeviceCall.h"
#include "transport/uATA.h"

namespace brisquel::benchmarks {
namespace {

constexpr std::size_t kImageBytes = std::size_t{kImageBlocks} * kSectorSize;
constexpr int kRounds = 7;

// The records and the null devices, with the target on the given transport.
struct NullRig {
  explicit NullRig(TransportKind kind) {
    DriveTarget& target = state.DriveTarget;
    target.kind = kind;
    target.basePort = 0x1F0;
    target.ataPassHandle = 1;
    target.scsiHandle = 1;
  }
  TransportState state;
  ReadyPortBus ports;
  NullDeviceIo io;
  QuietHost host;
  OperationContext ctx{state, ports, io, host};
  TransportContext& t = ctx.transport;
};

const std::vector<std::uint8_t>& Image() {
  static const auto image = LoadFirmwareFile(SixteenMiBFirmwareFile(), kImageBytes).image;
  return image;
}

// The passes over the image that a download must make, by memset and memcpy
// alone: zero the transfer buffer, then per request stage the image's part in
// it. The request hands the device that part where it lies; building a
// system's request block around it is the backend's cost, not the transport's.
class DownloadFloor {
 public:
  explicit DownloadFloor(std::size_t blocksPerRequest)
      : chunk_(blocksPerRequest * kSectorSize), transfer_(kTransferBufferSize, 1) {}

  void Run(const std::vector<std::uint8_t>& image) {
    std::memset(transfer_.data(), 0, transfer_.size());
    for (std::size_t at = 0; at < image.size(); at += chunk_) {
      const std::size_t n = std::min(chunk_, image.size() - at);
      std::memcpy(transfer_.data(), image.data() + at, n);
      benchmark::ClobberMemory();
    }
  }

 private:
  std::size_t chunk_;
  std::vector<std::uint8_t> transfer_;
};

void Download(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  NullRig rig(kind);
  const bool segmented = mode == kDlmcSegmented;
  DownloadFloor floor(segmented ? kDlmcSegmentBlocks : kImageBlocks);
  bool ok = true;
  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        kRounds, [&] { ok = ok && DownloadMicrocodeData(rig.ctx, mode, Image()).Completed(); },
        [&] { floor.Run(Image()); });
  }
  if (!ok) bench.SkipWithError("the download failed on the null device");
  Report(bench, timing.figure * 1e3, timing.floor * 1e3, "ms", "<= 1.2x");
}

// One whole DLMC click (preamble, file, download, log), alone in its process,
// for the peak resident size. scripts/bench runs each in a process of its own.
void DownloadPeak(benchmark::State& bench, TransportKind kind, std::uint8_t mode) {
  SixteenMiBFirmwareFile();
  NullRig rig(kind);
  rig.host.file = SixteenMiBFirmwareFile();
  double peak = 0;
  bool completed = false;
  for (auto _ : bench) {
    ResetPeakRss();
    completed = ClickDlmc(rig.ctx, mode).Completed();
    peak = PeakRssMiB();
  }
  if (!completed) bench.SkipWithError(rig.host.last.c_str());
  const double image = kImageBytes / 1048576.0;
  Report(bench, peak, image, "MiB peak",
         "<= 2 x image + 24 = " + std::to_string(int(image * 2 + 24)));
}

const std::vector<DownloadCase> kPassThroughCases = {
    {"AtaPassThrough07", TransportKind::ataPassThrough, kDlmcPermanent},
    {"AtaPassThrough03", TransportKind::ataPassThrough, kDlmcSegmented},
    // 07 is refused over SCSI above 255 blocks.
    {"ScsiPassThrough03", TransportKind::scsiPassThrough, kDlmcSegmented}};
const bool download = RegisterDownloads("Download", Download, kPassThroughCases);
const bool downloadPeak = RegisterDownloads("DownloadPeak", DownloadPeak, kPassThroughCases);

// PIO: the sector loop of a 16 MiB download against the same port calls made
// directly on the port interface.
void PioWrite(benchmark::State& bench) {
  NullRig rig(TransportKind::pio);
  std::memcpy(rig.state.TransferBuffer.data(), Image().data(), kImageBytes);
  const auto n = static_cast<std::int32_t>(kImageBlocks);

  PortLibrary* ports = Opaque<PortLibrary>(&rig.ports);
  const std::uint16_t base = rig.state.DriveTarget.basePort;
  const std::uint8_t* data = rig.state.TransferBuffer.data();
  const auto direct = [&] {
    for (std::int32_t k = 0; k < n; ++k) {
      const std::uint8_t* sector = data + std::size_t(k) * kSectorSize;
      for (std::size_t w = 0; w < kSectorSize / 2; ++w) {
        ports->WriteIoPortWord(base, GetU16(sector + 2 * w));
      }
      benchmark::DoNotOptimize(ports->ReadIoPortByte(base + 7));  // the wait's status read
      benchmark::DoNotOptimize(ports->ReadIoPortByte(base + 1));  // its error read
    }
  };

  rig.ports.Reset();
  PioWriteSectors(rig.t, n);
  const std::uint64_t accesses = rig.ports.Accesses();
  rig.ports.Reset();
  direct();
  const std::uint64_t directAccesses = rig.ports.Accesses();

  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        kRounds, [&] { PioWriteSectors(rig.t, n); }, direct);
  }
  Report(bench, timing.figure * 1e9 / double(accesses), timing.floor * 1e9 / double(directAccesses),
         "ns per port access", "<= 1.2x");
}
BENCHMARK(PioWrite)->Iterations(1);

// Port accesses per 512-byte sector: 256 data words, and the wait after the
// sector reads the status once (the bus is ready) and the error register once.
void PioAccessesPerSector(benchmark::State& bench) {
  NullRig rig(TransportKind::pio);
  for (auto _ : bench) {
    rig.ports.Reset();
    PioWriteSectors(rig.t, static_cast<std::int32_t>(kImageBlocks));
  }
  Report(bench, double(rig.ports.Accesses()) / kImageBlocks, kSectorSize / 2 + 2,
         "port accesses per sector", "= floor");
}
BENCHMARK(PioAccessesPerSector)->Iterations(1);

// Waiting for the system's answer by itself: a device whose requests block (as
// the system's do) but answer at once, called as a segmented 16 MiB download
// in 128-block segments calls it, each operation on records of its own.
class BlockingNullIo : public NullDeviceIo {
 public:
  bool CallsBlock() override { return true; }
};

constexpr int kCallsPerOperation = 256;

struct CallDeviceRig {
  TransportState state;
  ReadyPortBus ports;
  BlockingNullIo io;
  QuietHost host;
  TransportContext t{state, ports, io, host};
  AtaRequest request{.regs = {.command = kAtaDownloadMicrocode}};

  // One operation: its waiting thread, if any, goes with it.
  void Operation() {
    for (int i = 0; i < kCallsPerOperation; ++i) {
      benchmark::DoNotOptimize(CallDevice<AtaAnswer>(t, [&] { return io.AtaPassThrough(1, request); }));
    }
    state.CallWorker.reset();
  }
};

// Time per command against the request called directly.
void CallDeviceTime(benchmark::State& bench) {
  CallDeviceRig rig;
  DeviceIo* direct = Opaque<DeviceIo>(&rig.io);
  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        kRounds, [&] { rig.Operation(); },
        [&] {
          for (int i = 0; i < kCallsPerOperation; ++i) {
            benchmark::DoNotOptimize(direct->AtaPassThrough(1, rig.request));
          }
        });
  }
  Report(bench, timing.figure * 1e6 / kCallsPerOperation,
         timing.floor * 1e6 / kCallsPerOperation, "us per command", "figure only");
}
BENCHMARK(CallDeviceTime)->Iterations(1);

// Threads started for one operation of 256 requests.
void CallDeviceThreads(benchmark::State& bench) {
  CallDeviceRig rig;
  std::uint64_t started = 0;
  for (auto _ : bench) {
    const std::uint64_t before = DeviceCallWorker::ThreadsStarted();
    rig.Operation();
    started = DeviceCallWorker::ThreadsStarted() - before;
  }
  Report(bench, double(started), 1, "threads per operation", "<= 1");
}
BENCHMARK(CallDeviceThreads)->Iterations(1);

// A device call as an operation made it, to be made again directly.
struct IoCall {
  bool scsi;
  AtaTaskFile regs;
  SatCdb cdb;
  DataDirection direction;
  std::size_t length;
};
struct PortCall {
  enum Kind { readByte, readWord, writeByte, writeWord } kind;
  std::uint16_t port;
};
using DeviceCall = std::variant<IoCall, PortCall>;

class RecordingIo : public NullDeviceIo {
 public:
  explicit RecordingIo(std::vector<DeviceCall>& calls) : calls_(calls) {}
  AtaAnswer AtaPassThrough(OsHandle h, const AtaRequest& request) override {
    calls_.push_back(IoCall{false, request.regs, {}, request.direction, request.data.size()});
    return NullDeviceIo::AtaPassThrough(h, request);
  }
  ScsiAnswer ScsiPassThrough(OsHandle h, const ScsiRequest& request) override {
    calls_.push_back(IoCall{true, {}, request.cdb, request.direction, request.data.size()});
    return NullDeviceIo::ScsiPassThrough(h, request);
  }

 private:
  std::vector<DeviceCall>& calls_;
};

class RecordingPorts : public ReadyPortBus {
 public:
  explicit RecordingPorts(std::vector<DeviceCall>& calls) : calls_(calls) {}
  std::uint8_t ReadIoPortByte(std::uint16_t port) override {
    calls_.push_back(PortCall{PortCall::readByte, port});
    return ReadyPortBus::ReadIoPortByte(port);
  }
  std::uint16_t ReadIoPortWord(std::uint16_t port) override {
    calls_.push_back(PortCall{PortCall::readWord, port});
    return ReadyPortBus::ReadIoPortWord(port);
  }
  void WriteIoPortByte(std::uint16_t port, std::uint8_t v) override {
    calls_.push_back(PortCall{PortCall::writeByte, port});
    ReadyPortBus::WriteIoPortByte(port, v);
  }
  void WriteIoPortWord(std::uint16_t port, std::uint16_t v) override {
    calls_.push_back(PortCall{PortCall::writeWord, port});
    ReadyPortBus::WriteIoPortWord(port, v);
  }

 private:
  std::vector<DeviceCall>& calls_;
};

// Makes the recorded calls again on the null devices, each request on the
// same span of data.
void Replay(const std::vector<DeviceCall>& calls, PortLibrary& ports, DeviceIo& io,
            std::vector<std::uint8_t>& block) {
  for (const DeviceCall& call : calls) {
    if (const auto* r = std::get_if<IoCall>(&call)) {
      const std::span<std::uint8_t> data(block.data(), r->length);
      if (r->scsi) {
        io.ScsiPassThrough(1, {r->cdb, r->direction, data, kCommandTimeLimit});
      } else {
        io.AtaPassThrough(1, {r->regs, r->direction, data, kCommandTimeLimit, false});
      }
      continue;
    }
    const auto& p = std::get<PortCall>(call);
    switch (p.kind) {
      case PortCall::readByte:
        benchmark::DoNotOptimize(ports.ReadIoPortByte(p.port));
        break;
      case PortCall::readWord:
        benchmark::DoNotOptimize(ports.ReadIoPortWord(p.port));
        break;
      case PortCall::writeByte:
        ports.WriteIoPortByte(p.port, 0);
        break;
      case PortCall::writeWord:
        ports.WriteIoPortWord(p.port, 0);
        break;
    }
  }
}

// One operation, repeated, against its own device calls made directly.
void PerOperation(benchmark::State& bench, TransportKind kind,
                  const std::function<void(OperationContext&)>& operation,
                  const std::function<bool(NullRig&)>& succeeded) {
  constexpr int kRepeats = 2000;
  NullRig rig(kind);
  std::vector<DeviceCall> calls;
  {
    TransportState state = rig.state;
    RecordingPorts ports(calls);
    RecordingIo io(calls);
    OperationContext ctx(state, ports, io, rig.host);
    operation(ctx);
  }
  std::vector<std::uint8_t> block(64 * 1024, 1);
  PortLibrary* ports = Opaque<PortLibrary>(&rig.ports);
  DeviceIo* io = Opaque<DeviceIo>(&rig.io);
  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        kRounds,
        [&] {
          for (int i = 0; i < kRepeats; ++i) operation(rig.ctx);
        },
        [&] {
          for (int i = 0; i < kRepeats; ++i) Replay(calls, *ports, *io, block);
        });
  }
  if (!succeeded(rig)) bench.SkipWithError("the operation failed on the null device");
  Report(bench, timing.figure * 1e6 / kRepeats, timing.floor * 1e6 / kRepeats, "us per operation",
         "figure only");
}

bool NoError(NullRig& rig) {
  return !rig.state.AtaStatusBits.ERR;
}

void Identify(benchmark::State& bench, TransportKind kind) {
  PerOperation(
      bench, kind, [](OperationContext& ctx) { IdentifyButton(ctx); }, NoError);
}
void VendorStatusRead(benchmark::State& bench, TransportKind kind) {
  PerOperation(
      bench, kind, [](OperationContext& ctx) { ReadVendorStatus(ctx.transport); }, NoError);
}

BENCHMARK_CAPTURE(Identify, AtaPassThrough, TransportKind::ataPassThrough)->Iterations(1);
BENCHMARK_CAPTURE(Identify, ScsiPassThrough, TransportKind::scsiPassThrough)->Iterations(1);
BENCHMARK_CAPTURE(Identify, Pio, TransportKind::pio)->Iterations(1);
BENCHMARK_CAPTURE(VendorStatusRead, AtaPassThrough, TransportKind::ataPassThrough)->Iterations(1);
BENCHMARK_CAPTURE(VendorStatusRead, Pio, TransportKind::pio)->Iterations(1);

}  // namespace
}  // namespace brisquel::benchmarks
