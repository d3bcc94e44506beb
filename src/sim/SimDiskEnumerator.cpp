#include "sim/SimDiskEnumerator.h"

namespace brisquel::sim {

bool SimDiskEnumerator::Begin() {
  if (!available_ || !deviceSetOpens_) {
    return false;
  }
  ++begun_;
  return true;
}

DiskStep SimDiskEnumerator::Query(int index, DiskInterfaceInfo& info) {
  if (index < 0 || static_cast<std::size_t>(index) >= disks_.size()) {
    return DiskStep::noMoreItems;
  }
  const SimDisk& disk = disks_[static_cast<std::size_t>(index)];
  if (disk.fails) {
    return DiskStep::failed;
  }
  info = disk.info;
  return DiskStep::found;
}

DiskUse SimDiskEnumerator::OfDisk(const std::string& devicePath) {
  for (const SimDisk& disk : disks_) {
    if (disk.info.devicePath != devicePath) continue;
    if (disk.system != RunningSystem::none) {
      return DiskUse::InUse(disk.inUse.empty() ? "the running system" : disk.inUse, disk.system);
    }
    return disk.inUse.empty() ? DiskUse::Free() : DiskUse::InUse(disk.inUse);
  }
  return DiskUse::Free();
}

}  // namespace brisquel::sim
