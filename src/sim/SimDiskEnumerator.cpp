#include "sim/SimDiskEnumerator.h"

#include <algorithm>

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

DiskUse SimDiskEnumerator::OfController(const std::string& devicePath) {
  const auto disk = std::find_if(disks_.begin(), disks_.end(), [&](const SimDisk& d) {
    return d.info.devicePath == devicePath;
  });
  if (disk == disks_.end() || disk->controller.empty()) return OfDisk(devicePath);
  std::vector<DiskUse> uses;
  for (const SimDisk& other : disks_) {
    if (other.controller == disk->controller) uses.push_back(OfDisk(other.info.devicePath));
  }
  return CombinedUse(uses);
}

}  // namespace brisquel::sim
