// The physical drives of the API list: one record per disk interface that the
// platform's device library enumerates, in its order, at most 41.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/DiscoveryState.h"
#include "discovery/DiskEnumerator.h"

namespace brisquel {

inline constexpr std::uint8_t kBusTypeUsb = 7;
inline constexpr std::uint8_t kBusTypeSata = 11;
inline constexpr std::uint8_t kBusTypeNvme = 17;

// Storage bus-type names indexed by the operating system's bus-type code.
extern const std::array<std::string_view, 22> kBusTypeNames;

// The name of a bus-type code; a code without a row (above 21, such as the
// system's reserved maximum 0x7F) is shown as the code itself, "0x7F".
std::string BusTypeName(std::uint8_t code);

// Makes every record of DriveTable empty.
void ClearDriveTable(DiscoveryState& state);

// Refills DriveTable and returns how many leading records belong to enumerated
// interfaces (0 to 41). An interface that failed keeps its index and an empty
// record, so empty records may stand between filled ones.
int EnumeratePhysicalDrives(DiskEnumerator& disks, DiscoveryState& state);

}  // namespace brisquel
