#include "sim/PciBus.h"

namespace brisquel::sim {

PciFunction::PciFunction(const PciFunctionConfig& config) {
  Write32(0x00, config.vendorId | (static_cast<std::uint32_t>(config.deviceId) << 16));
  Write32(0x08, config.classDword);
  const std::uint8_t header = (config.headerType & 0x7F) | (config.multiFunction ? 0x80 : 0x00);
  Write32(0x0C, static_cast<std::uint32_t>(header) << 16);
  for (std::size_t i = 0; i < config.bars.size(); ++i) {
    Write32(static_cast<std::uint8_t>(0x10 + 4 * i), config.bars[i]);
  }
}

std::uint32_t PciFunction::Read32(std::uint8_t offset) const {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(space_[(offset + i) & 0xFF]) << (8 * i);
  }
  return value;
}

void PciFunction::Write32(std::uint8_t offset, std::uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) {
    space_[(offset + i) & 0xFF] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

PciFunction& PciBus::Add(PciLocation at, const PciFunctionConfig& config) {
  const auto [it, added] = functions_.insert_or_assign(at, PciFunction(config));
  if (added) ++functionsOnBus_[at.bus];
  return it->second;
}

bool PciBus::Remove(PciLocation at) {
  if (functions_.erase(at) == 0) return false;
  --functionsOnBus_[at.bus];
  return true;
}

PciFunction* PciBus::Find(PciLocation at) {
  auto it = functions_.find(at);
  return it == functions_.end() ? nullptr : &it->second;
}

std::uint32_t PciBus::ReadConfigDword(std::uint32_t pciAddress, std::uint8_t reg) const {
  if ((pciAddress >> 16) != 0 || (reg & 3) != 0) {
    return 0xFFFFFFFF;
  }
  // A scan reads every slot of 51 buses; most buses of a bench are empty.
  if (functionsOnBus_[(pciAddress >> 8) & 0xFF] == 0) return 0xFFFFFFFF;
  const PciLocation at{static_cast<std::uint8_t>(pciAddress >> 8),
                       static_cast<std::uint8_t>((pciAddress >> 3) & 0x1F),
                       static_cast<std::uint8_t>(pciAddress & 0x07)};
  auto it = functions_.find(at);
  return it == functions_.end() ? 0xFFFFFFFF : it->second.Read32(reg);
}

namespace pci {

PciFunctionConfig LegacyIde(std::uint16_t vendorId, std::uint16_t deviceId,
                            std::uint32_t classDword) {
  return {vendorId, deviceId, classDword, 0, false, {}};
}

PciFunctionConfig NativeIde(std::uint16_t vendorId, std::uint16_t deviceId,
                            std::array<std::uint32_t, 4> ioBars, std::uint32_t classDword) {
  return {vendorId, deviceId, classDword, 0, false, {ioBars[0], ioBars[1], ioBars[2], ioBars[3]}};
}

PciFunctionConfig SataAhci(std::uint16_t vendorId, std::uint16_t deviceId) {
  return {vendorId, deviceId, kClassSataAhci, 0, false, {}};
}

PciFunctionConfig Raid(std::uint16_t vendorId, std::uint16_t deviceId,
                       std::array<std::uint32_t, 4> ioBars) {
  return {vendorId, deviceId, kClassRaid, 0, false, {ioBars[0], ioBars[1], ioBars[2], ioBars[3]}};
}

PciFunctionConfig AceBoard(bool dual, std::uint32_t bar0, std::uint32_t classDword) {
  return {kAceVendor, dual ? kAceDual : kAceSingle, classDword, 0, false, {bar0}};
}

PciFunctionConfig HostBridge(std::uint16_t vendorId, std::uint16_t deviceId) {
  return {vendorId, deviceId, kClassHostBridge, 0, false, {}};
}

PciFunctionConfig PciBridge(std::uint16_t vendorId, std::uint16_t deviceId) {
  return {vendorId, deviceId, kClassPciBridge, 1, false, {}};
}

PciFunctionConfig NetworkCard(std::uint16_t vendorId, std::uint16_t deviceId) {
  return {vendorId, deviceId, kClassEthernet, 0, false, {0xE001}};
}

PciFunctionConfig MultiFunction(PciFunctionConfig config) {
  config.multiFunction = true;
  return config;
}

}  // namespace pci
}  // namespace brisquel::sim
