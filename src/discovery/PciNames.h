// The built-in names of PCI vendors, devices and classes. Every lookup yields a
// text: a key the table does not hold is rendered from the key itself, so a
// controller line never shows an empty name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brisquel {

struct PciName {
  std::uint16_t id;
  std::string_view name;
};

inline constexpr std::size_t kPciVendorTableSize = 40;
inline constexpr std::size_t kPciDeviceTableSize = 433;
inline constexpr std::size_t kPciClassTableSize = 49;

// Ascending by id (checked at compile time); the device table is keyed by the
// device id alone, whatever the vendor.
extern const std::array<PciName, kPciVendorTableSize> kPciVendorTable;
extern const std::array<PciName, kPciDeviceTableSize> kPciDeviceTable;
extern const std::array<PciName, kPciClassTableSize> kPciClassTable;

template <std::size_t N>
constexpr bool IsStrictlyAscending(const std::array<PciName, N>& table) {
  for (std::size_t i = 1; i < N; ++i) {
    if (table[i - 1].id >= table[i].id) return false;
  }
  return true;
}

// value as exactly `digits` upper-case hex digits (the low ones when it is wider).
std::string UpperHex(std::uint32_t value, int digits);

// Miss: the id as four hex digits and "*".
std::string PciVendorName(std::uint16_t vendorId);
// Miss: "ID ", the id as four hex digits and "*".
std::string PciDeviceName(std::uint16_t deviceId);
// Miss: the key as four hex digits.
std::string PciClassName(std::uint16_t classKey);

}  // namespace brisquel
