#include <cstring>
#include <memory>

#include "app/Backend.h"
#include "sim/Bench.h"
#ifdef _WIN32
#include "platform/windows/portable/NvmeDriverStandIn.h"
#endif

namespace brisquel {

namespace {

class BenchBackend : public Backend {
 public:
  explicit BenchBackend(std::unique_ptr<sim::Bench> bench)
      : bench_(std::move(bench)), system_(MakeSystemInfo()) {}

  PortLibrary& Ports() override { return bench_->Ports(); }
  DeviceIo& Io() override { return io_; }
  DiskEnumerator& Disks() override { return bench_->Disks(); }
  SystemInfo& System() override { return system_; }
  RetryClock& Clock() override { return bench_->Clock(); }
  DiskUsers& Users() override { return bench_->Users(); }
  sim::Bench* Bench() override { return bench_.get(); }

 private:
  std::unique_ptr<sim::Bench> bench_;
#ifdef _WIN32
  // Windows reaches an NVMe disk only through its driver: Identify and the
  // slot log by the storage query, firmware by the firmware interface. The
  // bench's NVMe disks take that path too, to a stand-in for the driver in
  // front of the bench's controllers, held to each disk's largest transfer;
  // other disks' drivers offer no firmware interface here.
  winpt::NvmeThroughDriverIo io_{bench_->Io(), [this](OsHandle h) {
    return winpt::DriverDisk{bench_->Io().IsNvmeController(h), bench_->Io().MaxTransfer(h)};
  }};
#else
  DeviceIo& io_ = bench_->Io();
#endif
  BenchSystemInfo system_;
};

}  // namespace

BackendChoice BackendChoiceFromSetting(const char* simSetting) {
  if (!simSetting || !*simSetting) return {};
  if (std::strcmp(simSetting, "1") == 0) return {true, std::nullopt};
  return {true, simSetting};
}

std::unique_ptr<Backend> MakeBenchBackend(std::unique_ptr<sim::Bench> bench) {
  return std::make_unique<BenchBackend>(std::move(bench));
}

BackendLoad MakeBackend(const BackendChoice& choice) {
  if (!choice.bench) {
    if (auto system = MakeSystemBackend()) return {std::move(system), {}};
    return {nullptr,
            "this build has no access to the system's drives; use --sim for the simulated bench"};
  }
  if (!choice.benchFile) return {MakeBenchBackend(sim::Bench::Default()), {}};
  sim::BenchLoad load = sim::Bench::FromFile(*choice.benchFile);
  if (!load.bench) return {nullptr, load.error};
  return {MakeBenchBackend(std::move(load.bench)), {}};
}

}  // namespace brisquel
