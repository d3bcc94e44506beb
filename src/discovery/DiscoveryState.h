// The tables discovery fills: the physical drives of the API list and the
// controller channels of the PIO list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brisquel {

struct TST_PhysicalDrive {
  std::int32_t DeviceNumber = 0;
  std::string DevicePath;
  std::string PhysicalDrivePath;
  std::string DisplayName;
  bool AdapterValid = false;
  std::uint32_t MaxTransferLength = 0;
  std::uint32_t MaxPhysicalPages = 0;
  std::uint32_t AlignmentMask = 0;
  bool AdapterUsesPio = false;
  std::uint8_t BusType = 0;
  bool NvmeBehindUsb = false;
};

inline constexpr std::size_t kDriveTableSize = 41;
inline constexpr std::size_t kPciScanTableSize = 256;

struct PCIDevDesc {
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  std::uint32_t basePort = 0;
  std::uint32_t controlPort = 0;
  std::string vendorName;
  std::string deviceName;
  std::string className;
};

struct DiscoveryState {
  std::array<TST_PhysicalDrive, kDriveTableSize> DriveTable{};
  std::array<PCIDevDesc, kPciScanTableSize> PciScanTable{};
  std::uint32_t PciScanCount = 0;
};

}  // namespace brisquel
