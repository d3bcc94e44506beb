// What holds a disk on Windows, on a made-up machine's volumes.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/windows/portable/VolumesOfDisk.h"

namespace brisquel::winpt {
namespace {

constexpr char kSystemVolume[] = "\\\\?\\Volume{a1}\\";
constexpr char kEfiVolume[] = "\\\\?\\Volume{a2}\\";
constexpr char kDataVolume[] = "\\\\?\\Volume{b1}\\";
constexpr char kSpannedVolume[] = "\\\\?\\Volume{c1}\\";
constexpr char kCdVolume[] = "\\\\?\\Volume{d1}\\";

struct Volume {
  std::vector<std::uint32_t> disks;
  std::vector<std::string> mountPoints;
};

// Disk 0 holds Windows (C:\ with a page file) and the EFI partition the
// machine starts from; disk 1 a data volume at D:\ and E:\data\; disk 2 a
// piece of a volume spanned from disk 1; disk 3 nothing. Any call named in
// `failing` fails.
class FakeCalls : public VolumeCalls {
 public:
  std::optional<std::uint32_t> DiskNumber(const std::string& devicePath) override {
    if (Fails("DiskNumber")) return std::nullopt;
    return disks.at(devicePath);
  }
  std::optional<std::vector<std::string>> Volumes() override {
    if (Fails("Volumes")) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [name, v] : volumes) names.push_back(name);
    return names;
  }
  std::optional<std::vector<std::uint32_t>> DisksOf(const std::string& volume) override {
    if (Fails("DisksOf " + volume)) return std::nullopt;
    return volumes.at(volume).disks;
  }
  std::optional<std::vector<std::string>> MountPoints(const std::string& volume) override {
    if (Fails("MountPoints")) return std::nullopt;
    return volumes.at(volume).mountPoints;
  }
  std::optional<std::string> WindowsVolume() override {
    if (Fails("WindowsVolume")) return std::nullopt;
    return "\\\\?\\VOLUME{A1}\\";  // the calls may differ in case
  }
  std::optional<std::string> BootVolume() override {
    if (Fails("BootVolume")) return std::nullopt;
    return kEfiVolume;
  }
  bool HasPageFile(const std::string& mountPoint) override { return mountPoint == "C:\\"; }
  std::string Failure() override { return "Access is denied"; }

  bool Fails(const std::string& call) { return failing.count(call) > 0; }

  std::map<std::string, std::uint32_t> disks{
      {"\\\\?\\disk0", 0}, {"\\\\?\\disk1", 1}, {"\\\\?\\disk2", 2}, {"\\\\?\\disk3", 3}};
  std::map<std::string, Volume> volumes{
      {kSystemVolume, {{0}, {"C:\\"}}},
      {kEfiVolume, {{0}, {}}},
      {kDataVolume, {{1}, {"D:\\", "E:\\data\\"}}},
      {kSpannedVolume, {{1, 2}, {"F:\\"}}},
      {kCdVolume, {{}, {"G:\\"}}},
  };
  std::set<std::string> failing;
};

TEST(VolumesOfDisk, EachVolumeOnTheDiskIsAUseAndTheSystemOnesAreNamed) {
  struct Case {
    const char* disk;
    std::vector<std::string> uses;
    bool holdsWindows;
  };
  const Case cases[] = {
      {"\\\\?\\disk0",
       {"C:\\ is on this disk (the Windows volume, holds a page file)",
        "volume \\\\?\\Volume{a2}\\ is on this disk (the boot volume)"},
       true},
      {"\\\\?\\disk1",
       {"D:\\ (also E:\\data\\) is on this disk", "F:\\ is on this disk"},
       false},
      // A volume on another disk is no use of this one, unless a piece of it is here.
      {"\\\\?\\disk2", {"F:\\ is on this disk"}, false},
      {"\\\\?\\disk3", {}, false},
  };
  for (const Case& c : cases) {
    FakeCalls calls;
    const VolumeUses uses = UsesOfDisk(c.disk, calls);
    EXPECT_FALSE(uses.unknown) << c.disk << ": " << *uses.unknown;
    EXPECT_EQ(uses.uses, c.uses) << c.disk;
    EXPECT_EQ(uses.holdsWindows, c.holdsWindows) << c.disk;
  }
}

TEST(VolumesOfDisk, AnyCallThatFailsLeavesItUnknownNeverFree) {
  struct Case {
    const char* disk;
    const char* failing;
    const char* why;
  };
  const Case cases[] = {
      {"\\\\?\\disk3", "DiskNumber", "the disk's number cannot be read: Access is denied"},
      {"\\\\?\\disk3", "Volumes", "the volumes cannot be listed: Access is denied"},
      // Even a volume on another disk: the one it cannot read may be on this one.
      {"\\\\?\\disk3", "DisksOf \\\\?\\Volume{b1}\\",
       "the disks of volume \\\\?\\Volume{b1}\\ cannot be read: Access is denied"},
      {"\\\\?\\disk1", "MountPoints",
       "where volume \\\\?\\Volume{b1}\\ is mounted cannot be read: Access is denied"},
      {"\\\\?\\disk1", "WindowsVolume",
       "the volume Windows runs from cannot be read: Access is denied"},
      {"\\\\?\\disk0", "BootVolume",
       "the volume the machine starts from cannot be read: Access is denied"},
  };
  for (const Case& c : cases) {
    FakeCalls calls;
    calls.failing.insert(c.failing);
    const VolumeUses uses = UsesOfDisk(c.disk, calls);
    ASSERT_TRUE(uses.unknown) << c.failing;
    EXPECT_EQ(*uses.unknown, c.why);
    EXPECT_TRUE(uses.uses.empty()) << c.failing;
  }
}

}  // namespace
}  // namespace brisquel::winpt
