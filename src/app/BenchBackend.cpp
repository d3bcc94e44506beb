#include <cstring>
#include <memory>

#include "app/Backend.h"
#include "sim/Bench.h"

namespace brisquel {

namespace {

class BenchBackend : public Backend {
 public:
  explicit BenchBackend(std::unique_ptr<sim::Bench> bench)
      : bench_(std::move(bench)), system_(MakeSystemInfo()) {}

  PortLibrary& Ports() override { return bench_->Ports(); }
  DeviceIo& Io() override { return bench_->Io(); }
  DiskEnumerator& Disks() override { return bench_->Disks(); }
  SystemInfo& System() override { return system_; }
  RetryClock& Clock() override { return bench_->Clock(); }
  DiskUsers& Users() override { return bench_->Users(); }
  sim::Bench* Bench() override { return bench_.get(); }

 private:
  std::unique_ptr<sim::Bench> bench_;
  BenchSystemInfo system_;
};

}  // namespace

BackendChoice BackendChoiceFromSetting(const char* simSetting) {
  if (!simSetting || !*simSetting) return {};
  if (std::strcmp(simSetting, "1") == 0) return {true, std::nullopt};
  return {true, simSetting};
}

BackendLoad MakeBackend(const BackendChoice& choice) {
  if (!choice.bench) {
    if (auto system = MakeSystemBackend()) return {std::move(system), {}};
    return {nullptr,
            "this build has no access to the system's drives; use --sim for the simulated bench"};
  }
  if (!choice.benchFile) return {std::make_unique<BenchBackend>(sim::Bench::Default()), {}};
  sim::BenchLoad load = sim::Bench::FromFile(*choice.benchFile);
  if (!load.bench) return {nullptr, load.error};
  return {std::make_unique<BenchBackend>(std::move(load.bench)), {}};
}

}  // namespace brisquel
