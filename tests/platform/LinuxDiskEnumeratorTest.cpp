#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/DeviceChangeMonitor.h"
#include "platform/linux/LinuxDiskEnumerator.h"

namespace brisquel::linuxpt {
namespace {

using Ancestry = std::vector<std::pair<std::string, std::string>>;

const Ancestry kAhci = {{"scsi", "0:0:0:0"}, {"scsi", "target0:0:0"}, {"scsi", "host0"},
                        {"", "ata1"},        {"pci", "0000:00:1f.2"}, {"", "pci0000:00"}};
const Ancestry kUsb = {{"scsi", "6:0:0:0"},    {"scsi", "target6:0:0"}, {"scsi", "host6"},
                       {"usb", "2-1:1.0"},     {"usb", "2-1"},          {"usb", "usb2"},
                       {"pci", "0000:00:04.0"}};

TEST(BusTypeOf, NumbersTheBusAsBusTypeNameDoes) {
  struct Case {
    const char* what;
    DiskFacts facts;
    std::uint8_t bus;
  };
  const Case cases[] = {
      {"AHCI port", {"sda", "", false, kAhci, "1.5 Gbps", {}}, 11},
      {"parallel IDE through ata_piix", {"sda", "", false, kAhci, "<unknown>", {}}, 3},
      {"udev says SATA", {"sda", "ata", true, kAhci, "<unknown>", {}}, 11},
      {"libata, link not readable", {"sda", "", false, kAhci, {}, {}}, 11},
      {"USB bridge (UAS or BOT)", {"sdb", "usb", false, kUsb, {}, {}}, 7},
      {"USB seen through ancestry alone", {"sdb", "", false, kUsb, {}, {}}, 7},
      {"NVMe", {"nvme0n1", "", false, {{"nvme", "nvme0"}, {"pci", "0000:01:00.0"}}, {}, {}}, 17},
      {"virtio-blk",
       {"vda", "", false, {{"virtio", "virtio1"}, {"pci", "0000:00:05.0"}}, {}, {}},
       14},
      {"virtio-scsi",
       {"sda", "", false, {{"scsi", "2:0:0:0"}, {"scsi", "host2"}, {"virtio", "virtio2"}}, {}, {}},
       1},
      {"SAS",
       {"sdc",
        "",
        false,
        {{"scsi", "0:0:1:0"}, {"sas_end_device", "end_device-0:1"}, {"scsi", "host0"}},
        {},
        {}},
       10},
      {"iSCSI",
       {"sdd", "", false, {{"scsi", "7:0:0:0"}, {"iscsi_session", "session1"}}, {}, {}},
       9},
      {"SD card",
       {"mmcblk0", "", false, {{"mmc", "mmc0:aaaa"}, {"mmc_host", "mmc0"}}, {}, "SD"},
       12},
      {"eMMC", {"mmcblk1", "", false, {{"mmc", "mmc1:0001"}}, {}, "MMC"}, 13},
      {"something else", {"xvda", "", false, {{"xen", "vbd-51712"}}, {}, {}}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(BusTypeOf(c.facts), c.bus) << c.what;
}

TEST(IsListedDisk, KeepsDisksOnDevicesOnly) {
  EXPECT_TRUE(IsListedDisk({"sda", "", false, kAhci, {}, {}}));
  EXPECT_TRUE(IsListedDisk({"sdb", "", false, kUsb, {}, {}}));
  for (const char* name : {"loop0", "ram0", "zram0", "dm-0", "md127", "nbd0"}) {
    EXPECT_FALSE(IsListedDisk({name, "", false, {}, {}, {}})) << name;
  }
  EXPECT_FALSE(IsListedDisk({"sr0", "", false, kAhci, {}, {}}));
  EXPECT_FALSE(IsListedDisk({"mmcblk0boot0", "", false, {{"mmc", "mmc0:0001"}}, {}, {}}));
  EXPECT_FALSE(IsListedDisk({"mmcblk0rpmb", "", false, {{"mmc", "mmc0:0001"}}, {}, {}}));
}

TEST(SdIndex, CountsInBijectiveBase26) {
  struct Case {
    const char* name;
    std::int32_t index;
  };
  for (const Case& c : {Case{"sda", 0}, Case{"sdb", 1}, Case{"sdz", 25}, Case{"sdaa", 26},
                        Case{"sdab", 27}, Case{"sdzz", 701}, Case{"sdaaa", 702}, Case{"sd", -1},
                        Case{"sda1", -1}, Case{"nvme0n1", -1}, Case{"hda", -1}, Case{"sdA", -1}}) {
    EXPECT_EQ(SdIndex(c.name), c.index) << c.name;
  }
}

TEST(FriendlyName, IsTheModelWithTheVendorWhenItAddsSomething) {
  struct Case {
    const char *vendor, *model;
    std::optional<std::string> name;
  };
  for (const Case& c : {Case{"ATA     ", "QEMU HARDDISK   ", "QEMU HARDDISK"},
                        Case{"", "WDC WD10EZEX-08WN4A0", "WDC WD10EZEX-08WN4A0"},
                        Case{"QEMU    ", "QEMU HARDDISK   ", "QEMU HARDDISK"},
                        Case{"JMicron ", "Generic  SSD", "JMicron Generic SSD"},
                        Case{"Samsung", "", std::nullopt}, Case{"", "   ", std::nullopt}}) {
    EXPECT_EQ(FriendlyName(c.vendor, c.model), c.name) << c.vendor << "/" << c.model;
  }
  EXPECT_EQ(DecodeUdevEscapes("WDC\\x20WD10EZEX\\x2d08\\x2"), "WDC WD10EZEX-08\\x2");
}

TEST(LinuxDiskEnumerator, WalksThisSystemsDisksAndEndsWithNoMoreItems) {
  LinuxDiskEnumerator disks;
  ASSERT_TRUE(disks.Available());
  ASSERT_TRUE(disks.Begin());
  int i = 0;
  DiskInterfaceInfo info;
  for (; disks.Query(i, info) == DiskStep::found; ++i) {
    // Each line is a block device the kernel has, on the bus the table names.
    ASSERT_TRUE(info.devicePath.starts_with("/dev/")) << info.devicePath;
    EXPECT_TRUE(std::filesystem::exists("/sys/class/block/" + info.devicePath.substr(5)))
        << info.devicePath;
    EXPECT_LE(info.busType, 21) << info.devicePath;
  }
  EXPECT_EQ(disks.Query(i, info), DiskStep::noMoreItems);
  EXPECT_EQ(disks.Query(-1, info), DiskStep::noMoreItems);
  disks.End();
  EXPECT_EQ(disks.Query(0, info), DiskStep::noMoreItems);
  if (i == 0) GTEST_SKIP() << "this machine has no disk to list: only the walk's end was checked";
}

TEST(DeviceChangeCode, GivesTheWindowsEventCodes) {
  EXPECT_EQ(DeviceChangeCode("add"), 0x8000u);
  EXPECT_EQ(DeviceChangeCode("remove"), 0x8004u);
  EXPECT_EQ(DeviceChangeCode("change"), 0x0007u);
  EXPECT_EQ(DeviceChangeCode("bind"), std::nullopt);
  EXPECT_EQ(DeviceChangeCode(""), std::nullopt);
}

TEST(DeviceChangeMonitor, GivesAWatchableDescriptorAndNeverBlocks) {
  DeviceChangeMonitor monitor;
  EXPECT_EQ(monitor.Fd(), -1);
  EXPECT_TRUE(monitor.ReadEvents().empty());
  // Netlink may be unavailable in a sandbox; when it starts, reading with
  // nothing waiting returns at once.
  if (monitor.Start()) {
    EXPECT_GE(monitor.Fd(), 0);
    monitor.ReadEvents();
  } else {
    EXPECT_EQ(monitor.Fd(), -1);
  }
}

}  // namespace
}  // namespace brisquel::linuxpt
