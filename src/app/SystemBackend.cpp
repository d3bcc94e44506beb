// This machine's drives and ports on Linux. The build says whether it has a
// backend for them; without one the programs run on the simulated bench only.
#include "app/Backend.h"
#include "ui/Terminal.h"

#ifdef BRISQUEL_HAS_PLATFORM
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/LinuxDiskEnumerator.h"
#include "platform/linux/LinuxPortLibrary.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/MountedDisks.h"
#endif

namespace brisquel {

#ifdef BRISQUEL_HAS_PLATFORM

namespace {

class LinuxBackend : public Backend {
 public:
  PortLibrary& Ports() override { return ports_; }
  DeviceIo& Io() override { return io_; }
  DiskEnumerator& Disks() override { return disks_; }
  SystemInfo& System() override { return system_; }
  RetryClock& Clock() override { return clock_; }
  DiskUsers& Users() override { return users_; }
  void SetNoticeSink(std::function<void(const std::string&)> sink) override {
    ports_.SetNoticeSink(std::move(sink));
  }
  std::string PortAccessProblem() override { return ports_.FailureReason(); }

 private:
  linuxpt::LinuxPortLibrary ports_;
  linuxpt::LinuxDeviceIo io_;
  linuxpt::LinuxDiskEnumerator disks_;
  linuxpt::LinuxSystemInfo system_;
  SystemRetryClock clock_;
  linuxpt::LinuxDiskUsers users_;
};

}  // namespace

std::unique_ptr<Backend> MakeSystemBackend() {
  return std::make_unique<LinuxBackend>();
}

std::unique_ptr<SystemInfo> MakeSystemInfo() {
  return std::make_unique<linuxpt::LinuxSystemInfo>();
}

#else

std::unique_ptr<Backend> MakeSystemBackend() {
  return nullptr;
}

std::unique_ptr<SystemInfo> MakeSystemInfo() {
  return nullptr;
}

// No backend, no terminal to draw on or ask at.
bool StdinIsTerminal() {
  return false;
}
bool StderrIsTerminal() {
  return false;
}

#endif

}  // namespace brisquel
