// The disk-in-use check on a made-up /proc and /sys.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/linux/MountedDisks.h"

namespace brisquel::linuxpt {
namespace {

class FakeFiles : public SystemFiles {
 public:
  std::optional<std::string> Read(const std::string& path) override {
    const auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional(it->second);
  }
  std::vector<std::string> List(const std::string& dir) override {
    std::set<std::string> names;
    for (const auto& [path, text] : files) {
      if (path.rfind(dir + "/", 0) != 0) continue;
      const std::string rest = path.substr(dir.size() + 1);
      names.insert(rest.substr(0, rest.find('/')));
    }
    for (const auto& [holderDir, holder] : holders) {
      if (holderDir == dir) names.insert(holder);
    }
    return {names.begin(), names.end()};
  }
  std::optional<std::string> DeviceNumber(const std::string& node) override {
    const auto it = nodes.find(node);
    return it == nodes.end() ? std::nullopt : std::optional(it->second);
  }
  std::map<std::string, std::string> files;
  std::multimap<std::string, std::string> holders;
  std::map<std::string, std::string> nodes{{"/dev/sda", "8:0"}, {"/dev/sdb", "8:16"}};
};

// sda: sda1 holds the root filesystem, sda2 swap, sda3 an LVM volume (dm-0)
// mounted with a blank in its path; sdb has nothing mounted.
FakeFiles Machine() {
  FakeFiles f;
  f.files = {
      {"/sys/dev/block/8:0/dev", "8:0\n"},
      {"/sys/dev/block/8:0/sda1/dev", "8:1\n"},
      {"/sys/dev/block/8:0/sda1/partition", "1\n"},
      {"/sys/dev/block/8:0/sda2/dev", "8:2\n"},
      {"/sys/dev/block/8:0/sda2/partition", "2\n"},
      {"/sys/dev/block/8:0/sda3/dev", "8:3\n"},
      {"/sys/dev/block/8:0/sda3/partition", "3\n"},
      {"/sys/dev/block/8:0/queue/dev", "not a partition\n"},
      {"/sys/class/block/dm-0/dev", "254:0\n"},
      {"/sys/dev/block/8:16/dev", "8:16\n"},
      {"/proc/self/mountinfo",
       "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/root rw\n"
       "22 21 0:5 / /dev rw - devtmpfs udev rw\n"
       "30 21 254:0 / /srv/my\\040data rw - xfs /dev/mapper/vg-data rw\n"
       "31 21 0:40 / /home rw - btrfs /dev/sda3 rw\n"},
      {"/proc/swaps", "Filename Type Size Used Priority\n/dev/sda2 partition 1024 0 -2\n"},
  };
  f.holders.emplace("/sys/dev/block/8:0/sda3/holders", "dm-0");
  return f;
}

TEST(MountedDisks, MountsAndSwapOnTheDiskItsPartitionsAndWhatIsStackedOnThem) {
  FakeFiles f = Machine();
  const DiskUse sda = UsersOfDisk("/dev/sda", f);
  EXPECT_EQ(sda.state, DiskUse::State::inUse);
  EXPECT_EQ(sda.what,
            "/ is mounted from sda1 (the running system); /srv/my data is mounted from dm-0; "
            "/home is mounted from sda3; sda2 is in use as swap");
  EXPECT_EQ(sda.system, RunningSystem::linuxRoot);
  EXPECT_EQ(UsersOfDisk("/dev/sdb", f).state, DiskUse::State::free);
  // Not a block device: nothing is mounted from it.
  EXPECT_EQ(UsersOfDisk("/dev/sg0", f).state, DiskUse::State::free);
}

TEST(MountedDisks, UnreadableMountsAreNoAllClear) {
  FakeFiles f = Machine();
  f.files.erase("/proc/self/mountinfo");
  const DiskUse use = UsersOfDisk("/dev/sdb", f);
  EXPECT_EQ(use.state, DiskUse::State::unknown);
  EXPECT_EQ(use.what, "what is mounted cannot be read (/proc/self/mountinfo)");
}

// nvme0 serves two namespaces: n1 is free, n2 holds the root filesystem. A
// path of a multipath namespace (nvme0c0n1) and the controller itself are no
// disks of their own.
TEST(MountedDisks, AnNvmeControllerIsInUseWhereAnyOfItsNamespacesIs) {
  FakeFiles f;
  f.nodes = {{"/dev/nvme0n1", "259:0"}, {"/dev/nvme0n2", "259:1"}, {"/dev/nvme1n1", "259:2"}};
  f.files = {
      {"/sys/dev/block/259:0/dev", "259:0\n"},
      {"/sys/dev/block/259:1/dev", "259:1\n"},
      {"/sys/dev/block/259:1/nvme0n2p1/dev", "259:3\n"},
      {"/sys/dev/block/259:1/nvme0n2p1/partition", "1\n"},
      {"/sys/dev/block/259:2/dev", "259:2\n"},
      {"/sys/block/nvme0n1/device/nvme0n1/size", "1\n"},
      {"/sys/block/nvme0n1/device/nvme0n2/size", "1\n"},
      {"/sys/block/nvme0n1/device/nvme0c0n1/size", "1\n"},
      {"/sys/block/nvme0n1/device/firmware_rev", "1.0\n"},
      {"/proc/self/mountinfo", "21 1 259:3 / / rw - ext4 /dev/nvme0n2p1 rw\n"},
  };
  const DiskUse controller = UsersOfController("/dev/nvme0n1", f);
  EXPECT_EQ(controller.state, DiskUse::State::inUse);
  EXPECT_EQ(controller.what, "/ is mounted from nvme0n2p1 (the running system)");
  EXPECT_EQ(controller.system, RunningSystem::linuxRoot);
  EXPECT_EQ(UsersOfDisk("/dev/nvme0n1", f).state, DiskUse::State::free);
  // No namespaces listed in sysfs: the disk alone.
  EXPECT_EQ(UsersOfController("/dev/nvme1n1", f).state, DiskUse::State::free);
}

}  // namespace
}  // namespace brisquel::linuxpt
