#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "ops/NvmeIdentity.h"

namespace brisquel {
namespace {

TEST(NvmeIdentity, TheControllersFieldsAreReadFromTheirBytes) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> d{};
  std::memcpy(&d[4], "  S/N 1\x01            ", 20);  // leading blanks, a control byte
  std::memcpy(&d[24], "Model:X", 7);                 // the rest zeros, as some controllers pad
  std::memcpy(&d[64], "FW 9.9  ", 8);
  d[256] = 0xFB;  // every OACS bit but the firmware commands'
  d[257] = 0xFF;
  d[260] = 0x1F;
  d[270] = 0xFF;
  d[271] = 0xFF;
  d[319] = 0xFF;
  d[77] = 0;
  const NvmeControllerFacts f = ControllerFactsOf(d);
  EXPECT_EQ(f.serial, "S_N 1");
  EXPECT_EQ(f.model, "Model_X");
  EXPECT_EQ(f.firmware, "FW 9.9");
  EXPECT_FALSE(f.firmwareCommands);
  EXPECT_TRUE(f.slot1ReadOnly);
  EXPECT_EQ(f.slotCount, 7);
  EXPECT_TRUE(f.activateWithoutReset);
  EXPECT_EQ(f.mtfa, 0xFFFF);
  EXPECT_EQ(f.fwug, 0xFF);

  d[256] = 0x04;
  d[257] = 0;
  d[260] = 0x02;
  EXPECT_TRUE(ControllerFactsOf(d).firmwareCommands);
  EXPECT_EQ(ControllerFactsOf(d).slotCount, 1);
  EXPECT_FALSE(ControllerFactsOf(d).slot1ReadOnly);
  EXPECT_FALSE(ControllerFactsOf(d).activateWithoutReset);
}

TEST(NvmeIdentity, TheSlotLogAndTheFiguresInWords) {
  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
  log[0] = 0x7A;  // bit 3 and bit 7 are reserved: active 2, next 7
  std::memcpy(&log[8], "1.0     ", 8);
  std::memcpy(&log[56], "LAST    ", 8);
  const NvmeSlotLog s = SlotLogOf(log);
  EXPECT_EQ(s.activeSlot, 2);
  EXPECT_EQ(s.nextSlot, 7);
  EXPECT_EQ(s.revisions[0], "1.0");
  EXPECT_EQ(s.revisions[1], "");
  EXPECT_EQ(s.revisions[6], "LAST");

  EXPECT_EQ(MdtsText(0), "no limit");
  EXPECT_EQ(MdtsText(1), "2 pages (8 KiB with 4 KiB pages)");
  EXPECT_EQ(MdtsText(20), "1048576 pages (4194304 KiB with 4 KiB pages)");
  EXPECT_EQ(MdtsText(21), "21 (2^21 pages)") << "no overflow";
  EXPECT_EQ(FwugText(0), "not stated");
  EXPECT_EQ(FwugText(1), "4 KiB");
  EXPECT_EQ(FwugText(254), "1016 KiB");
  EXPECT_EQ(FwugText(255), "any size");
  EXPECT_EQ(MtfaText(0), "not stated");
  EXPECT_EQ(MtfaText(65535), "6553500 ms");
}

}  // namespace
}  // namespace brisquel
