// The replay's comparison of what a run sends with what was recorded.
#include <gtest/gtest.h>

#include "sim/Replay.h"
#include "transport/Recording.h"

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

// A download recorded before segments asked for their registers (version 1)
// replays as it was; in a version 2 recording the difference counts.
TEST(Replay, AVersion1RecordingDoesNotCompareRegistersBack) {
  RecordedCommand recorded;
  recorded.regs = {.features = 0x03, .count = 0x01, .device = 0xA0, .command = 0x92};
  recorded.direction = DataDirection::out;
  recorded.length = 512;
  recorded.timeLimit = 120;
  recorded.dataHash = 0x0123456789ABCDEFull;
  recorded.returned = {.count = 0x02, .device = 0xA0, .command = 0x50};
  recorded.moved = 512;
  RecordedCommand sent = recorded;
  sent.registersBack = true;
  const std::string body = RecordedOutLine(recorded) + RecordedBackLines(recorded);
  for (const char* version : {"1", "2"}) {
    SCOPED_TRACE(version);
    const RecordingRead read = ReadRecording(std::string("# brisquel recording ") + version +
                                             "\ntarget drive bus 11\n" + body);
    ASSERT_TRUE(read.recording) << read.error << "\n" << body;
    EXPECT_EQ(FirstDifference(read.recording->commands.at(0), sent),
              std::string(version) == "1" ? "" : "registers back yes, recorded no");
  }
}

}  // namespace
}  // namespace brisquel::sim
