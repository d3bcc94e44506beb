// The disks Windows knows: the device setup library's walk over the present
// disk interfaces, each disk opened once for its number and its adapter's
// properties. The library is loaded by name at start; without it (or without
// one of its seven entry points) every enumeration finds nothing.
#pragma once

#include <memory>

#include "discovery/DiskEnumerator.h"
#include "platform/windows/portable/PassThroughBlocks.h"
#include "transport/DeviceIo.h"

namespace brisquel::winpt {

class WinDiskEnumerator : public DiskEnumerator {
 public:
  // `io` opens the disks and carries the two storage queries.
  // Disks are opened through `io` and asked their number and adapter through
  // `control` (the same object in the program).
  WinDiskEnumerator(DeviceIo& io, IoControl& control, const char* setupLibrary = "setupapi.dll");
  ~WinDiskEnumerator() override;
  WinDiskEnumerator(const WinDiskEnumerator&) = delete;
  WinDiskEnumerator& operator=(const WinDiskEnumerator&) = delete;

  bool Available() override { return api_ != nullptr; }
  bool Begin() override;
  DiskStep Query(int index, DiskInterfaceInfo& info) override;
  void End() override;

  struct SetupApi;

 protected:
  // The set of present disk interfaces (a device information set), or
  // INVALID_HANDLE_VALUE. Tests hand in a set of their own making.
  virtual void* OpenDeviceSet();

 private:
  DeviceIo& io_;
  IoControl& control_;
  std::unique_ptr<const SetupApi> api_;
  void* set_;
};

}  // namespace brisquel::winpt
