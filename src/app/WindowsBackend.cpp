// This machine's drives and ports on Windows.
#include "app/Backend.h"
#include "platform/windows/WinDeviceIo.h"
#include "platform/windows/WinDiskEnumerator.h"
#include "platform/windows/WinDiskUsers.h"
#include "platform/windows/WinPortLibrary.h"
#include "platform/windows/WinSystemInfo.h"

namespace brisquel {

namespace {

// The setup library is loaded as the backend is made, before any window; the
// port library only for this machine, never under the bench.
class WindowsBackend : public Backend {
 public:
  PortLibrary& Ports() override { return ports_; }
  DeviceIo& Io() override { return io_; }
  DiskEnumerator& Disks() override { return disks_; }
  SystemInfo& System() override { return system_; }
  RetryClock& Clock() override { return clock_; }
  DiskUsers& Users() override { return users_; }

 private:
  winpt::WinPortLibrary ports_;
  winpt::WinDeviceIo io_;
  winpt::WinDiskEnumerator disks_{io_, io_};
  winpt::WinSystemInfo system_;
  SystemRetryClock clock_;
  winpt::WinDiskUsers users_;
};

}  // namespace

std::unique_ptr<Backend> MakeSystemBackend() {
  return std::make_unique<WindowsBackend>();
}

std::unique_ptr<SystemInfo> MakeSystemInfo() {
  return std::make_unique<winpt::WinSystemInfo>();
}

}  // namespace brisquel
