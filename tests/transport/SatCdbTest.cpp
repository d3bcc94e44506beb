#include <gtest/gtest.h>

#include <vector>

#include "transport/SatCdb.h"

namespace brisquel {
namespace {

TEST(SatCdb, BuildsEachFormWithItsOwnLayout) {
  AtaTaskFile regs;
  regs.features = 0x0E;
  regs.count = 0x40;
  regs.lbaLow = 0x01;
  regs.lbaMid = 0x02;
  regs.lbaHigh = 0x03;
  regs.device = 0xA0;
  regs.command = 0x92;
  regs.featuresPrev = 0x1F;
  regs.countPrev = 0x2F;
  regs.lbaLowPrev = 0x3F;
  regs.lbaMidPrev = 0x4F;
  regs.lbaHighPrev = 0x5F;
  struct Case {
    const char* what;
    SatForm form;
    SatFields fields;
    std::vector<std::uint8_t> sent;
  };
  for (const Case& c : {
           Case{"A1h in ten bytes, PIO out",
                SatForm::a1Ten,
                {SatProtocol::pioOut, 0x06, false},
                {0xA1, 0x0A, 0x06, 0x0E, 0x40, 0x01, 0x02, 0x03, 0xA0, 0x92}},
           Case{"A1h in twelve bytes, non-data with CK_COND",
                SatForm::a1Twelve,
                {SatProtocol::nonData, 0x20, false},
                {0xA1, 0x06, 0x20, 0x0E, 0x40, 0x01, 0x02, 0x03, 0xA0, 0x92, 0x00, 0x00}},
           Case{"85h with EXTEND: the previous registers go in the odd bytes",
                SatForm::x85,
                {SatProtocol::pioIn, 0x0B, true},
                {0x85, 0x09, 0x0B, 0x1F, 0x0E, 0x2F, 0x40, 0x3F, 0x01, 0x4F, 0x02, 0x5F, 0x03, 0xA0,
                 0x92, 0x00}},
           Case{"85h without EXTEND: the previous registers stay behind",
                SatForm::x85,
                {SatProtocol::dma, 0x03, false},
                {0x85, 0x0C, 0x03, 0x00, 0x0E, 0x00, 0x40, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0xA0,
                 0x92, 0x00}},
       }) {
    const SatCdb cdb = BuildSatCdb(c.form, regs, c.fields);
    EXPECT_EQ(std::vector<std::uint8_t>(cdb.Sent().begin(), cdb.Sent().end()), c.sent) << c.what;
  }
}

}  // namespace
}  // namespace brisquel
