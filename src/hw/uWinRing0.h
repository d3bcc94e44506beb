// Port I/O and PCI configuration reads: the eight operations of the driver
// library, behind an interface so that each platform and the bench can supply
// them, and the program's own two operations on top.
#pragma once

#include <cstdint>

namespace brisquel {

class PortLibrary {
 public:
  virtual ~PortLibrary() = default;
  virtual bool InitializeOls() = 0;
  virtual std::int32_t GetDllStatus() = 0;
  virtual std::int32_t GetDriverType() = 0;
  virtual std::uint8_t ReadIoPortByte(std::uint16_t port) = 0;
  virtual std::uint16_t ReadIoPortWord(std::uint16_t port) = 0;
  virtual void WriteIoPortByte(std::uint16_t port, std::uint8_t value) = 0;
  virtual void WriteIoPortWord(std::uint16_t port, std::uint16_t value) = 0;
  // 0xFFFFFFFF for any read that cannot be made or addresses no function.
  virtual std::uint32_t ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) = 0;
  // Looks again which ports the system's own drivers hold, where a library
  // keeps them off such ports; called when a channel is selected and when an
  // operation starts, so a register access itself never reads system files.
  virtual void RefreshPortClaims() {}
  // Milliseconds on the clock a wait on the ports counts its time limit by:
  // the machine's steady clock (the bench's counts its register reads).
  virtual std::uint64_t WaitClockMs();
};

// bus in bits 15..8, device in 7..3, function in 2..0; out-of-range values are cut.
std::uint32_t PciAddress(std::uint8_t bus, std::uint8_t device, std::uint8_t function);

std::uint32_t ReadPciConfig(PortLibrary& ports, std::uint8_t bus, std::uint8_t device,
                            std::uint8_t function, std::uint8_t reg);

}  // namespace brisquel
