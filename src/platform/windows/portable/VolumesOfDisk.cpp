#include "platform/windows/portable/VolumesOfDisk.h"

#include <algorithm>

namespace brisquel::winpt {
namespace {

// Volume names are GUIDs, whose letters the calls may give in either case.
bool SameVolume(const std::string& a, const std::string& b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

VolumeUses CannotTell(const std::string& what, VolumeCalls& calls) {
  std::string why = what;
  if (const std::string failure = calls.Failure(); !failure.empty()) why += ": " + failure;
  return {why, {}};
}

}  // namespace

VolumeUses UsesOfDisk(const std::string& devicePath, VolumeCalls& calls) {
  const auto disk = calls.DiskNumber(devicePath);
  if (!disk) return CannotTell("the disk's number cannot be read", calls);
  const auto volumes = calls.Volumes();
  if (!volumes) return CannotTell("the volumes cannot be listed", calls);

  VolumeUses result;
  std::optional<std::string> windowsVolume, bootVolume;
  for (const std::string& volume : *volumes) {
    const auto disks = calls.DisksOf(volume);
    if (!disks) return CannotTell("the disks of volume " + volume + " cannot be read", calls);
    if (std::find(disks->begin(), disks->end(), *disk) == disks->end()) continue;
    const auto points = calls.MountPoints(volume);
    if (!points) return CannotTell("where volume " + volume + " is mounted cannot be read", calls);
    // Read only once a volume is on the disk: a disk without one needs neither.
    if (!windowsVolume && !(windowsVolume = calls.WindowsVolume())) {
      return CannotTell("the volume Windows runs from cannot be read", calls);
    }
    if (!bootVolume && !(bootVolume = calls.BootVolume())) {
      return CannotTell("the volume the machine starts from cannot be read", calls);
    }
    std::vector<std::string> marks;
    if (SameVolume(volume, *windowsVolume)) {
      marks.push_back("the Windows volume");
      result.holdsWindows = true;
    }
    if (SameVolume(volume, *bootVolume)) marks.push_back("the boot volume");
    if (std::any_of(points->begin(), points->end(),
                    [&](const std::string& p) { return calls.HasPageFile(p); })) {
      marks.push_back("holds a page file");
    }
    std::string use = points->empty() ? "volume " + volume : points->front();
    for (std::size_t i = 1; i < points->size(); ++i) use += (i == 1 ? " (also " : ", ") + (*points)[i];
    if (points->size() > 1) use += ")";
    use += " is on this disk";
    for (std::size_t i = 0; i < marks.size(); ++i) use += (i == 0 ? " (" : ", ") + marks[i];
    if (!marks.empty()) use += ")";
    result.uses.push_back(use);
  }
  return result;
}

}  // namespace brisquel::winpt
