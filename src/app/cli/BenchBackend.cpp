#include <memory>

#include "app/cli/Backend.h"
#include "sim/Bench.h"

namespace brisquel::cli {

namespace {

class BenchSystemInfo : public SystemInfo {
 public:
  std::string SystemName() override { return "Simulated bench x64"; }
  bool HasAdministratorRights() override { return true; }  // the bench asks for none
};

class BenchBackend : public Backend {
 public:
  explicit BenchBackend(std::unique_ptr<sim::Bench> bench) : bench_(std::move(bench)) {}

  PortLibrary& Ports() override { return bench_->Ports(); }
  DeviceIo& Io() override { return bench_->Io(); }
  DiskEnumerator& Disks() override { return bench_->Disks(); }
  SystemInfo& System() override { return system_; }
  RetryClock& Clock() override { return bench_->Clock(); }
  DiskUsers& Users() override { return bench_->Users(); }

  std::vector<RememberedDrive> Remembered() override {
    std::vector<RememberedDrive> drives;
    for (const std::string& name : bench_->DriveNames()) {
      sim::AtaDrive* drive = bench_->Drive(name);
      drives.push_back({name + " " + drive->Identity().serial, drive});
    }
    return drives;
  }

 private:
  std::unique_ptr<sim::Bench> bench_;
  BenchSystemInfo system_;
};

}  // namespace

std::unique_ptr<Backend> MakeBenchBackend(const std::optional<std::string>& benchFile,
                                          std::string& problem) {
  if (!benchFile) return std::make_unique<BenchBackend>(sim::Bench::Default());
  sim::BenchLoad load = sim::Bench::FromFile(*benchFile);
  if (!load.bench) {
    problem = load.error;
    return nullptr;
  }
  return std::make_unique<BenchBackend>(std::move(load.bench));
}

}  // namespace brisquel::cli
