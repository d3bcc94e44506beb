// The PCI scan of the PIO list on the default bench: time per scan against its
// own configuration reads made directly, and the number of reads against the
// fewest the scan's rules allow.
#include <benchmark/benchmark.h>

#include <vector>

#include "Fixtures.h"
#include "discovery/PciScan.h"
#include "sim/Bench.h"

namespace brisquel::benchmarks {
namespace {

constexpr int kRounds = 7;
constexpr int kScans = 20;

struct ConfigRead {
  std::uint32_t address;
  std::uint8_t reg;
};

// The bench's library, remembering the configuration reads made through it.
class RecordingPci : public ForwardingPorts {
 public:
  using ForwardingPorts::ForwardingPorts;
  std::uint32_t ReadPciConfigDword(std::uint32_t address, std::uint8_t reg) override {
    reads.push_back({address, reg});
    return ForwardingPorts::ReadPciConfigDword(address, reg);
  }
  std::vector<ConfigRead> reads;
};

bool AtaLikeClass(std::uint32_t classKey) {
  switch (classKey) {
    case 0x0101:
    case 0x0104:
    case 0x0105:
    case 0x0106:
    case 0x0107:
    case 0x0108:
    case 0x0180:
      return true;
    default:
      return false;
  }
}

// Register 0x0C of each device's function 0, register 0x00 of every function
// probed (eight on a multi-function device, else two), 0x08 of every present
// one and the four channel BARs of every kept one: nothing can be left out.
std::uint64_t FloorReads(const sim::PciBus& pci) {
  std::uint64_t reads = 0;
  for (int bus = 0; bus < 51; ++bus) {
    for (int device = 0; device < 32; ++device) {
      const auto at = [&](int function) {
        return PciAddress(std::uint8_t(bus), std::uint8_t(device), std::uint8_t(function));
      };
      ++reads;
      const bool multiFunction = (pci.ReadConfigDword(at(0), 0x0C) >> 23) & 1;
      for (int function = 0; function < (multiFunction ? 8 : 2); ++function) {
        ++reads;
        const std::uint32_t deviceId = pci.ReadConfigDword(at(function), 0x00) >> 16;
        if (deviceId == 0xFFFF || deviceId == 0) continue;
        ++reads;
        if (AtaLikeClass(pci.ReadConfigDword(at(function), 0x08) >> 16)) reads += 4;
      }
    }
  }
  return reads;
}

void PciScanTime(benchmark::State& bench) {
  const auto sim = sim::Bench::Default();
  DiscoveryState discovery;
  bool breakFlag = false;
  QuietHost host;
  const auto scan = [&](PortLibrary& ports) {
    ScanPciControllers({discovery, breakFlag, ports, host, "/nonexistent"});
  };
  RecordingPci recording(sim->Ports());
  scan(recording);

  PortLibrary* ports = Opaque<PortLibrary>(&sim->Ports());
  Timing timing;
  for (auto _ : bench) {
    timing = Interleaved(
        kRounds,
        [&] {
          for (int i = 0; i < kScans; ++i) scan(*ports);
        },
        [&] {
          for (int i = 0; i < kScans; ++i) {
            for (const ConfigRead& r : recording.reads) {
              benchmark::DoNotOptimize(ports->ReadPciConfigDword(r.address, r.reg));
            }
          }
        });
  }
  if (discovery.PciScanCount == 0) bench.SkipWithError("the scan found no channel");
  Report(bench, timing.figure * 1e6 / kScans, timing.floor * 1e6 / kScans, "us per scan",
         "figure only");
}
BENCHMARK(PciScanTime)->Iterations(1);

void PciScanReads(benchmark::State& bench) {
  const auto sim = sim::Bench::Default();
  DiscoveryState discovery;
  bool breakFlag = false;
  QuietHost host;
  std::uint64_t reads = 0;
  for (auto _ : bench) {
    const std::uint64_t before = sim->Ports().PciReads();
    ScanPciControllers({discovery, breakFlag, sim->Ports(), host, "/nonexistent"});
    reads = sim->Ports().PciReads() - before;
  }
  Report(bench, double(reads), double(FloorReads(sim->Pci())), "config reads per scan", "= floor");
}
BENCHMARK(PciScanReads)->Iterations(1);

}  // namespace
}  // namespace brisquel::benchmarks
