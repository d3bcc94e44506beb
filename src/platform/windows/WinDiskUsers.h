// What holds a disk on Windows: its volumes, read through the volume calls.
// A drive on task-file ports cannot be matched to a disk Windows knows.
#pragma once

#include <cstdint>
#include <string>

#include "ops/DiskUsers.h"
#include "platform/windows/portable/VolumesOfDisk.h"

namespace brisquel::winpt {

// In use with every volume separated by "; ", unknown with why, or free.
DiskUse DiskUseOf(const VolumeUses& uses);

class WinDiskUsers : public DiskUsers {
 public:
  DiskUse OfDisk(const std::string& devicePath) override;
  DiskUse OfChannel(std::uint16_t) override {
    return DiskUse::Unknown("a drive on task-file ports may be one Windows uses through its own driver");
  }
};

}  // namespace brisquel::winpt
