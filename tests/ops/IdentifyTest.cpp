#include <gtest/gtest.h>

#include "ops/Identify.h"
#include "ops/OpsBench.h"

namespace brisquel {
namespace {

using test::OpsBench;

class IdentifyOnBench : public ::testing::TestWithParam<TransportKind> {};

TEST_P(IdentifyOnBench, LogsModelFirmwareAndSerialAsTheDriveReportsThem) {
  struct Case {
    sim::DriveIdentity identity;
    std::string line;
  };
  const Case cases[] = {
      {{"WDC WD800BB-00SIMA0", "05.01C05", "WD-WMSIM0000001"},
       "WDC WD800BB-00SIMA0 FW:05.01C05 SN:WD-WMSIM0000001"},
      // Blank and unprintable bytes at the ends go with the trimming; inside a
      // field they stay as spaces; z, / and : become "_", y stays.
      {{std::string("\0 WDC  ZZ zy/x\xFF", 15),
        std::string("\x01"
                    "1.0\x80",
                    5),
        "S/N:12"},
       "WDC  ZZ _y_x FW:1.0 SN:S_N_12"},
  };
  for (const Case& c : cases) {
    OpsBench b(GetParam(), c.identity);
    b.state.BreakFlag = true;  // a Break left over from before is cleared
    IdentifyButton(b.ctx);
    EXPECT_EQ(b.host.log, (std::vector<std::string>{c.line, ""}));
    EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
    const auto identify = b.Commands(0xEC);
    ASSERT_EQ(identify.size(), 1u);
    EXPECT_EQ(identify[0].count, 1);
    EXPECT_EQ(identify[0].device, 0xA0);
    EXPECT_EQ(b.drive.History().size(), 1u);
  }
}

TEST_P(IdentifyOnBench, AFailedCommandLeavesEveryFieldEmpty) {
  OpsBench b(GetParam());
  b.drive.Faults().abortCommand = 0xEC;
  std::fill(b.state.TransferBuffer.begin(), b.state.TransferBuffer.begin() + 512, 'A');
  IdentifyButton(b.ctx);
  // The line after it says who ended the command, in the words it came back in.
  const std::string why = GetParam() == TransportKind::scsiPassThrough
                              ? "the drive aborted it (sense key B, ASC 00h)"
                              : "the drive aborted it (status 41h, error 04h)";
  EXPECT_EQ(b.host.log,
            (std::vector<std::string>{" FW: SN:", "", "IDENTIFY DEVICE failed: " + why}));
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
}

// Data that no drive sends is no identity; a wrong checksum still shows the
// names, and says so.
TEST_P(IdentifyOnBench, DataThatCannotBeBelievedSaysWhy) {
  using Data = sim::DriveFaults::IdentifyData;
  struct Case {
    Data data;
    std::vector<std::string> log;
    bool answered;
  };
  const Case cases[] = {
      {Data::zeros, {" FW: SN:", "", "IDENTIFY data not valid: all zeros"}, false},
      {Data::ones, {" FW: SN:", "", "IDENTIFY data not valid: all ones"}, false},
      {Data::badChecksum,
       {"WDC WD5000AAKX-00SIMB0 FW:BF1.00 SN:SIM0000001", "", "IDENTIFY checksum wrong"},
       true},
  };
  for (const Case& c : cases) {
    OpsBench b(GetParam());
    b.drive.Faults().identifyData = c.data;
    const IdentifyOutcome outcome = IdentifyButton(b.ctx);
    EXPECT_EQ(b.host.log, c.log);
    EXPECT_EQ(outcome.Answered(), c.answered);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, IdentifyOnBench, test::kAllTransports,
                         test::TransportParamName());

}  // namespace
}  // namespace brisquel
