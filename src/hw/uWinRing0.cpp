#include "hw/uWinRing0.h"

namespace brisquel {

std::uint32_t PciAddress(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
  return (static_cast<std::uint32_t>(bus) << 8) | ((device & 0x1Fu) << 3) | (function & 0x07u);
}

std::uint32_t ReadPciConfig(PortLibrary& ports, std::uint8_t bus, std::uint8_t device,
                            std::uint8_t function, std::uint8_t reg) {
  return ports.ReadPciConfigDword(PciAddress(bus, device, function), reg);
}

}  // namespace brisquel
