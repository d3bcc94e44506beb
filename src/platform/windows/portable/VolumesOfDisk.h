// What holds a disk on Windows: the volumes with a piece on it, the one
// Windows runs from, the one the machine starts from and those with a page
// file. Free of the system's headers, so that the cases are checked on every
// build machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisquel::winpt {

// The few system calls the check makes. Each answers none when its call
// fails; Failure() then says why, in the system's words.
class VolumeCalls {
 public:
  virtual ~VolumeCalls() = default;
  // The number of the disk at this device path (IOCTL_STORAGE_GET_DEVICE_NUMBER).
  virtual std::optional<std::uint32_t> DiskNumber(const std::string& devicePath) = 0;
  // Every volume's name ("\\?\Volume{...}\").
  virtual std::optional<std::vector<std::string>> Volumes() = 0;
  // The disks a volume has pieces on; empty for a volume on no disk (a CD).
  virtual std::optional<std::vector<std::uint32_t>> DisksOf(const std::string& volume) = 0;
  // Where a volume is mounted ("C:\", "D:\data\"); empty when nowhere.
  virtual std::optional<std::vector<std::string>> MountPoints(const std::string& volume) = 0;
  // The volume that holds Windows' own folder.
  virtual std::optional<std::string> WindowsVolume() = 0;
  // The volume the machine starts from (Setup's system partition).
  virtual std::optional<std::string> BootVolume() = 0;
  // Whether a page file sits at the root of this mount point.
  virtual bool HasPageFile(const std::string& mountPoint) = 0;
  virtual std::string Failure() = 0;
};

struct VolumeUses {
  // Set when what holds the disk cannot be told: why.
  std::optional<std::string> unknown;
  // Each volume on the disk ("C:\ is on this disk (the Windows volume)").
  std::vector<std::string> uses;
  // Windows' own volume is among them: the disk holds the running system.
  bool holdsWindows = false;
};

VolumeUses UsesOfDisk(const std::string& devicePath, VolumeCalls& calls);

}  // namespace brisquel::winpt
