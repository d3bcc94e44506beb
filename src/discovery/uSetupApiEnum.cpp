#include "discovery/uSetupApiEnum.h"

#include "discovery/PciNames.h"

namespace brisquel {

constexpr std::array<std::string_view, 22> kBusTypeNames = {
    "UNKNOWN", "SCSI",  "ATAPI", "ATA",  "1394", "SSA",          "FIBRE",   "USB",
    "RAID",    "iSCSI", "SAS",   "SATA", "SD",   "MMC",          "VIRTUAL", "FILE BACKED VIRTUAL",
    "SPACES",  "NVMe",  "SCM",   "UFS",  "MAX",  "MAX RESERVED",
};
static_assert(kBusTypeNames.size() == 22);
static_assert(kBusTypeNames[kBusTypeUsb] == "USB");

std::string BusTypeName(std::uint8_t code) {
  if (code < kBusTypeNames.size()) return std::string(kBusTypeNames[code]);
  // Hex, as the system's own bus-type constants are written, so an unnamed
  // code reads as a code and not as a name.
  return "0x" + UpperHex(code, 2);
}

void ClearDriveTable(DiscoveryState& state) {
  state.DriveTable.fill(TST_PhysicalDrive{});
}

int EnumeratePhysicalDrives(DiskEnumerator& disks, DiscoveryState& state) {
  ClearDriveTable(state);
  if (!disks.Available() || !disks.Begin()) return 0;

  // Without an end-of-list answer the walk stops at the table's size.
  int count = static_cast<int>(kDriveTableSize);
  for (int i = 0; i < static_cast<int>(kDriveTableSize); ++i) {
    DiskInterfaceInfo info;
    const DiskStep step = disks.Query(i, info);
    if (step == DiskStep::noMoreItems) {
      count = i;
      break;
    }
    if (step == DiskStep::failed) continue;

    TST_PhysicalDrive& drive = state.DriveTable[static_cast<std::size_t>(i)];
    drive.DevicePath = info.devicePath;
    drive.DisplayName = info.friendlyName ? *info.friendlyName : "Disk " + std::to_string(i);
    if (info.deviceNumber) {
      drive.DeviceNumber = *info.deviceNumber;
      drive.PhysicalDrivePath = "\\\\.\\PhysicalDrive" + std::to_string(*info.deviceNumber);
    } else {
      drive.DeviceNumber = -1;
    }
    drive.AdapterValid = info.adapterValid;
    if (info.adapterValid) {
      drive.MaxTransferLength = info.maxTransferLength;
      drive.MaxPhysicalPages = info.maxPhysicalPages;
      drive.AlignmentMask = info.alignmentMask;
      drive.AdapterUsesPio = info.adapterUsesPio;
      drive.BusType = info.busType;
    }
    drive.NvmeBehindUsb = info.nvmeBehindUsb;
  }
  disks.End();
  return count;
}

}  // namespace brisquel
