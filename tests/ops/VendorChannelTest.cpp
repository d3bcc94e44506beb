#include <gtest/gtest.h>

#include "ops/OpsBench.h"
#include "ops/VendorChannel.h"

namespace brisquel {
namespace {

using test::OpsBench;

class VendorChannelOnBench : public ::testing::TestWithParam<TransportKind> {};

// 0 and 0xFFFF are the two answers that are no error after a key sector.
TEST_P(VendorChannelOnBench, AKeySectorAnswerSetsErrUnlessItIsNoError) {
  struct Case {
    std::uint16_t primaryCode;
    bool err;
    const char* text;
  };
  for (const Case& c :
       {Case{0x0000, false, "SUCCESS "}, Case{0xFFFF, false, "NOT_AN_ERR_VSC_CMD_EXEC_IN_BKG "},
        Case{0xB018, true, "VSC_ERR_XFER_REQ_EXCEED_AVAILABLE_DATA "}}) {
    OpsBench b(GetParam());
    b.drive.Faults().vendorPrimaryCode = c.primaryCode;
    EnableVendorCommands(b.ctx.transport);
    EXPECT_EQ(SendKeySector(b.ctx.transport, KeySector::Download(77)).replyValue(), 77u);
    EXPECT_EQ(b.state.AtaStatusBits.ERR, c.err) << std::hex << c.primaryCode;
    EXPECT_EQ(VendorErrorText(b.ctx.transport), c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, VendorChannelOnBench, test::kAllTransports,
                         test::TransportParamName());

// A status read that fails gives no codes to name: the text says so, never
// "SUCCESS" from a sector the drive did not send.
TEST_P(VendorChannelOnBench, AFailedStatusReadIsNotNamedAsCodes) {
  OpsBench b(GetParam());
  b.drive.Faults().abortCommand = 0xB0;
  b.drive.Faults().abortFeatures = 0xD5;
  EXPECT_EQ(VendorErrorText(b.ctx.transport), kNoVendorStatusText);
}

// Over PIO a status read that fails leaves the buffer alone: it still holds
// the key sector, whose status fields are zero.
TEST(VendorChannelOverPio, AFailedStatusReadKeepsTheKeySector) {
  OpsBench b(TransportKind::pio);
  b.drive.Faults().abortCommand = 0xB0;
  b.drive.Faults().abortFeatures = 0xD5;
  EnableVendorCommands(b.ctx.transport);
  EXPECT_EQ(SendKeySector(b.ctx.transport, KeySector::Download(0x00051234)).replyValue(), 0u);
  EXPECT_TRUE(b.state.AtaStatusBits.ERR);
  const std::vector<std::uint8_t> key = {0x19, 0,    0x05, 0, 0x08, 0x01, 0, 0,
                                         0x34, 0x12, 0x05, 0, 0,    0,    0, 0};
  EXPECT_TRUE(std::equal(key.begin(), key.end(), b.state.SectorBuffer.begin()));
  EXPECT_TRUE(std::all_of(b.state.SectorBuffer.begin() + 16, b.state.SectorBuffer.end(),
                          [](std::uint8_t byte) { return byte == 0; }));
  EXPECT_EQ(VendorErrorText(b.ctx.transport), kNoVendorStatusText);
}

}  // namespace
}  // namespace brisquel
