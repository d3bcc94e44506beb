// The replay's comparison of what a run sends with what was recorded.
#include <gtest/gtest.h>

#include "sim/Replay.h"

namespace brisquel::sim {
namespace {

TEST(Replay, TheFirstDifferenceIsNamedAsTheRecordingWritesIt) {
  RecordedCommand recorded;
  recorded.regs = {.features = 0x03, .count = 0x40, .device = 0xA0, .command = 0x92};
  recorded.direction = DataDirection::out;
  recorded.length = 32768;
  recorded.timeLimit = 120;
  recorded.dataHash = 0x0123456789ABCDEFull;
  RecordedCommand sent = recorded;
  EXPECT_EQ(FirstDifference(recorded, sent), "");
  sent.delivered = false;  // the answer is not compared
  EXPECT_EQ(FirstDifference(recorded, sent), "");
  sent = recorded;
  sent.regs.lbaMid = 0x01;
  EXPECT_EQ(FirstDifference(recorded, sent),
            "registers 03 40 00 01 00 A0 92, recorded 03 40 00 00 00 A0 92");
  sent = recorded;
  sent.regs.command = 0xEC;
  EXPECT_EQ(FirstDifference(recorded, sent), "command EC, recorded 92");
  sent = recorded;
  sent.regs.countPrev = 0x01;
  EXPECT_EQ(FirstDifference(recorded, sent),
            "previous registers 00 01 00 00 00, recorded 00 00 00 00 00");
  sent = recorded;
  sent.dataHash = 1;
  EXPECT_EQ(FirstDifference(recorded, sent), "the data sent differs from the recorded data");
  sent = recorded;
  sent.timeLimit = 5;
  EXPECT_EQ(FirstDifference(recorded, sent), "time limit 5, recorded 120");
  sent = recorded;
  sent.direction = DataDirection::in;
  EXPECT_EQ(FirstDifference(recorded, sent), "direction in, recorded out");

  RecordedCommand scsi;
  scsi.kind = RecordedKind::scsi;
  scsi.cdb = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC};
  EXPECT_EQ(FirstDifference(recorded, scsi), "transport scsi, recorded ata");
  RecordedCommand other = scsi;
  other.cdb[9] = 0x92;
  EXPECT_EQ(FirstDifference(scsi, other),
            "command block A1080E0001000000A092, recorded A1080E0001000000A0EC");
}

}  // namespace
}  // namespace brisquel::sim
