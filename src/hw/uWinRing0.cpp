#include "hw/uWinRing0.h"

#include <chrono>

namespace brisquel {

std::uint64_t PortLibrary::WaitClockMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::uint32_t PciAddress(std::uint8_t bus, std::uint8_t device, std::uint8_t function) {
  return (static_cast<std::uint32_t>(bus) << 8) | ((device & 0x1Fu) << 3) | (function & 0x07u);
}

std::uint32_t ReadPciConfig(PortLibrary& ports, std::uint8_t bus, std::uint8_t device,
                            std::uint8_t function, std::uint8_t reg) {
  return ports.ReadPciConfigDword(PciAddress(bus, device, function), reg);
}

}  // namespace brisquel
