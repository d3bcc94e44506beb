#include <gtest/gtest.h>

#include "hw/uWinRing0.h"

namespace brisquel {
namespace {

TEST(PciAddress, ComposesBusDeviceFunctionAndCutsOutOfRangeValues) {
  struct Case { std::uint8_t bus, device, function; std::uint32_t address; };
  for (const Case& c : {Case{0, 31, 7, 0x00FF}, Case{255, 0, 0, 0xFF00}, Case{2, 3, 1, 0x0219},
                        Case{50, 31, 7, 0x32FF}, Case{1, 32, 8, 0x0100}}) {
    EXPECT_EQ(PciAddress(c.bus, c.device, c.function), c.address)
        << int(c.bus) << ":" << int(c.device) << "." << int(c.function);
  }
}

class OneRegister : public PortLibrary {
 public:
  bool InitializeOls() override { return true; }
  std::int32_t GetDllStatus() override { return 0; }
  std::int32_t GetDriverType() override { return 4; }
  std::uint8_t ReadIoPortByte(std::uint16_t) override { return 0xFF; }
  std::uint16_t ReadIoPortWord(std::uint16_t) override { return 0xFFFF; }
  void WriteIoPortByte(std::uint16_t, std::uint8_t) override {}
  void WriteIoPortWord(std::uint16_t, std::uint16_t) override {}
  std::uint32_t ReadPciConfigDword(std::uint32_t address, std::uint8_t reg) override {
    lastAddress = address;
    lastReg = reg;
    return 0x01018A80;
  }
  std::uint32_t lastAddress = 0;
  std::uint8_t lastReg = 0;
};

TEST(ReadPciConfig, PassesTheComposedAddressAndReturnsTheValueUnchanged) {
  OneRegister ports;
  EXPECT_EQ(ReadPciConfig(ports, 0, 31, 1, 0x08), 0x01018A80u);
  EXPECT_EQ(ports.lastAddress, 0x00F9u);
  EXPECT_EQ(ports.lastReg, 0x08);
}

}  // namespace
}  // namespace brisquel
