#include <gtest/gtest.h>

#include "Fakes.h"
#include "discovery/uSetupApiEnum.h"

namespace brisquel {
namespace {

using fakes::FakeDisks;

bool IsEmpty(const TST_PhysicalDrive& r) {
  return r.DeviceNumber == 0 && r.DevicePath.empty() && r.PhysicalDrivePath.empty() &&
         r.DisplayName.empty() && !r.AdapterValid && r.MaxTransferLength == 0 &&
         r.MaxPhysicalPages == 0 && r.AlignmentMask == 0 && !r.AdapterUsesPio && r.BusType == 0;
}

FakeDisks::Slot Disk(std::string path, std::optional<std::string> friendly,
                     std::optional<std::int32_t> number, std::uint8_t busType) {
  DiskInterfaceInfo info;
  info.devicePath = std::move(path);
  info.friendlyName = std::move(friendly);
  info.deviceNumber = number;
  info.adapterValid = true;
  info.maxTransferLength = 0x20000;
  info.maxPhysicalPages = 33;
  info.alignmentMask = 1;
  info.adapterUsesPio = false;
  info.busType = busType;
  return {DiskStep::found, info};
}

FakeDisks::Slot Failed() {
  return {DiskStep::failed, {}};
}

DiscoveryState StaleState() {
  DiscoveryState state;
  for (auto& r : state.DriveTable) r.DisplayName = "stale", r.DeviceNumber = 9;
  return state;
}

TEST(EnumeratePhysicalDrives, FillsOneRecordPerInterfaceAndClearsTheRest) {
  FakeDisks disks;
  disks.slots = {Disk("\\\\?\\ide#disk0", "ST3500418AS", 0, 11),
                 Disk("\\\\?\\usbstor#disk1", std::nullopt, 2, 7),
                 Disk("\\\\?\\scsi#disk2", "Virtual Disk", std::nullopt, 1)};
  disks.slots[2].info.adapterValid = false;
  disks.slots[2].info.busType = 0;
  DiscoveryState state = StaleState();

  ASSERT_EQ(EnumeratePhysicalDrives(disks, state), 3);

  const auto& t = state.DriveTable;
  EXPECT_EQ(t[0].DevicePath, "\\\\?\\ide#disk0");
  EXPECT_EQ(t[0].DisplayName, "ST3500418AS");
  EXPECT_EQ(t[0].DeviceNumber, 0);
  EXPECT_EQ(t[0].PhysicalDrivePath, "\\\\.\\PhysicalDrive0");
  EXPECT_TRUE(t[0].AdapterValid);
  EXPECT_EQ(t[0].MaxTransferLength, 0x20000u);
  EXPECT_EQ(t[0].MaxPhysicalPages, 33u);
  EXPECT_EQ(t[0].AlignmentMask, 1u);
  EXPECT_FALSE(t[0].AdapterUsesPio);
  EXPECT_EQ(t[0].BusType, 11);

  // No friendly name: the enumeration index, not the disk number, names it.
  EXPECT_EQ(t[1].DisplayName, "Disk 1");
  EXPECT_EQ(t[1].PhysicalDrivePath, "\\\\.\\PhysicalDrive2");
  EXPECT_EQ(t[1].BusType, kBusTypeUsb);

  EXPECT_EQ(t[2].DeviceNumber, -1);
  EXPECT_EQ(t[2].PhysicalDrivePath, "");
  EXPECT_FALSE(t[2].AdapterValid);
  EXPECT_EQ(t[2].BusType, 0);

  for (std::size_t i = 3; i < kDriveTableSize; ++i) EXPECT_TRUE(IsEmpty(t[i])) << i;
  EXPECT_EQ(disks.queried, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(disks.ends, 1);
}

TEST(EnumeratePhysicalDrives, FailedInterfacesKeepTheirIndexWithAnEmptyRecord) {
  struct Case {
    const char* name;
    std::vector<FakeDisks::Slot> slots;
    int count;
    std::vector<bool> filled;
  };
  const Case cases[] = {
      {"middle of three fails",
       {Disk("a", "A", 0, 11), Failed(), Disk("c", "C", 2, 11)},
       3,
       {true, false, true}},
      {"none opens", {Failed(), Failed()}, 2, {false, false}},
      {"no interfaces", {}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDisks disks;
    disks.slots = c.slots;
    DiscoveryState state = StaleState();
    ASSERT_EQ(EnumeratePhysicalDrives(disks, state), c.count);
    for (std::size_t i = 0; i < kDriveTableSize; ++i) {
      const bool filled = i < c.filled.size() && c.filled[i];
      EXPECT_EQ(!IsEmpty(state.DriveTable[i]), filled) << i;
    }
  }
}

TEST(EnumeratePhysicalDrives, StopsAtFortyOneRecords) {
  FakeDisks disks;
  for (int i = 0; i < 50; ++i) disks.slots.push_back(Disk(std::to_string(i), {}, i, 11));
  DiscoveryState state;
  ASSERT_EQ(EnumeratePhysicalDrives(disks, state), 41);
  EXPECT_EQ(disks.queried.back(), 40);
  EXPECT_EQ(state.DriveTable[40].DisplayName, "Disk 40");
  EXPECT_EQ(disks.ends, 1);
}

TEST(EnumeratePhysicalDrives, WithoutTheDeviceLibraryOrItsSetFindsNothingButStillClears) {
  for (bool available : {false, true}) {
    FakeDisks disks;
    disks.available = available;
    disks.opens = false;
    disks.slots = {Disk("a", "A", 0, 11)};
    DiscoveryState state = StaleState();
    EXPECT_EQ(EnumeratePhysicalDrives(disks, state), 0);
    EXPECT_TRUE(disks.queried.empty());
    EXPECT_EQ(disks.ends, 0);
    EXPECT_EQ(disks.begins, available ? 1 : 0);
    for (const auto& r : state.DriveTable) EXPECT_TRUE(IsEmpty(r));
  }
}

TEST(BusTypeName, NamesTheTableAndRendersLargerCodesWithoutReadingPastIt) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {{0, "UNKNOWN"},
                        {1, "SCSI"},
                        {4, "1394"},
                        {7, "USB"},
                        {9, "iSCSI"},
                        {11, "SATA"},
                        {15, "FILE BACKED VIRTUAL"},
                        {17, "NVMe"},
                        {20, "MAX"},
                        {21, "MAX RESERVED"},
                        {22, "0x16"},
                        {0x7F, "0x7F"},
                        {255, "0xFF"}};
  for (const Case& c : cases) {
    EXPECT_EQ(BusTypeName(static_cast<std::uint8_t>(c.code)), c.text) << c.code;
  }
}

}  // namespace
}  // namespace brisquel
