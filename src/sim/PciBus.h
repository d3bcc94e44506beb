// PCI configuration space of the bench: functions at bus/device/function, each
// with its 256 bytes, read the way the driver library reads them.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>

namespace brisquel::sim {

struct PciLocation {
  std::uint8_t bus = 0;
  std::uint8_t device = 0;    // 0..31
  std::uint8_t function = 0;  // 0..7
  auto operator<=>(const PciLocation&) const = default;
};

// What a bench says about one function; Apply() lays it out in configuration space.
struct PciFunctionConfig {
  std::uint16_t vendorId = 0;
  std::uint16_t deviceId = 0;
  // Register 0x08 as a whole: class, subclass, programming interface, revision.
  std::uint32_t classDword = 0;
  std::uint8_t headerType = 0;  // layout in bits 6..0 (0 device, 1 PCI bridge)
  bool multiFunction = false;   // bit 7 of the header type byte
  std::array<std::uint32_t, 6> bars{};
};

class PciFunction {
 public:
  explicit PciFunction(const PciFunctionConfig& config);
  // offset is taken modulo 256 byte by byte; the bench never reads past the space.
  std::uint32_t Read32(std::uint8_t offset) const;
  void Write32(std::uint8_t offset, std::uint32_t value);
  std::array<std::uint8_t, 256>& Space() { return space_; }

 private:
  std::array<std::uint8_t, 256> space_{};
};

class PciBus {
 public:
  // Adds or replaces the function at `at`.
  PciFunction& Add(PciLocation at, const PciFunctionConfig& config);
  bool Remove(PciLocation at);
  PciFunction* Find(PciLocation at);
  std::size_t Count() const { return functions_.size(); }

  // The driver library's dword read: 0xFFFFFFFF for an absent function, an
  // address with bits above 15 set, or a register that is not dword-aligned.
  std::uint32_t ReadConfigDword(std::uint32_t pciAddress, std::uint8_t reg) const;

 private:
  std::map<PciLocation, PciFunction> functions_;
  std::array<std::uint16_t, 256> functionsOnBus_{};
};

// Ready-made functions for benches and tests. Class dwords carry revision 0x01
// unless the caller's full dword is given.
namespace pci {
inline constexpr std::uint32_t kClassIdeLegacy = 0x01018A80;  // ICH7-style, both channels legacy
inline constexpr std::uint32_t kClassIdeNative = 0x01018F01;  // both channels native
inline constexpr std::uint32_t kClassRaid = 0x01040001;
inline constexpr std::uint32_t kClassSataAhci = 0x01060101;
inline constexpr std::uint32_t kClassOtherStorage = 0x01800001;
inline constexpr std::uint32_t kClassHostBridge = 0x06000001;
inline constexpr std::uint32_t kClassIsaBridge = 0x06010001;
inline constexpr std::uint32_t kClassPciBridge = 0x06040001;
inline constexpr std::uint32_t kClassEthernet = 0x02000001;
inline constexpr std::uint16_t kAceVendor = 0xACE1;
inline constexpr std::uint16_t kAceSingle = 0x0005;
inline constexpr std::uint16_t kAceDual = 0x0006;

// Legacy IDE: the scan takes 1F0/3F6 and 170/376, BARs unused.
PciFunctionConfig LegacyIde(std::uint16_t vendorId = 0x8086, std::uint16_t deviceId = 0x27DF,
                            std::uint32_t classDword = kClassIdeLegacy);
// Native IDE: channel 0 from BAR0/BAR1, channel 1 from BAR2/BAR3 (I/O BARs, bit 0 set).
PciFunctionConfig NativeIde(std::uint16_t vendorId, std::uint16_t deviceId,
                            std::array<std::uint32_t, 4> ioBars,
                            std::uint32_t classDword = kClassIdeNative);
// AHCI SATA whose BARs 0..3 read zero, as on most AHCI parts.
PciFunctionConfig SataAhci(std::uint16_t vendorId = 0x8086, std::uint16_t deviceId = 0x27C5);
PciFunctionConfig Raid(std::uint16_t vendorId, std::uint16_t deviceId,
                       std::array<std::uint32_t, 4> ioBars);
// The two ACE Lab boards; only BAR0 matters to the scan.
PciFunctionConfig AceBoard(bool dual, std::uint32_t bar0,
                           std::uint32_t classDword = kClassOtherStorage);
PciFunctionConfig HostBridge(std::uint16_t vendorId = 0x8086, std::uint16_t deviceId = 0x27A0);
PciFunctionConfig PciBridge(std::uint16_t vendorId = 0x8086, std::uint16_t deviceId = 0x27D0);
PciFunctionConfig NetworkCard(std::uint16_t vendorId = 0x10EC, std::uint16_t deviceId = 0x8168);
// The same function marked as part of a multi-function device.
PciFunctionConfig MultiFunction(PciFunctionConfig config);
}  // namespace pci

}  // namespace brisquel::sim
