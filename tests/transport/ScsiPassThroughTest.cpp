#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FakeTransport.h"
#include "transport/uSCSI.h"

namespace brisquel {
namespace {

using testing::FakeDeviceIo;
using testing::FakeTransport;
using Bytes = std::vector<std::uint8_t>;

constexpr OsHandle kUsbDrive = 0x55;

AtaTaskFile Regs(std::uint8_t command = 0xEC, std::uint8_t count = 1) {
  AtaTaskFile r;
  r.features = 0x11;
  r.count = count;
  r.lbaLow = 0x33;
  r.lbaMid = 0x44;
  r.lbaHigh = 0x55;
  r.device = 0xA0;
  r.command = command;
  // Never sent over SCSI.
  r.featuresPrev = r.countPrev = r.lbaLowPrev = r.lbaMidPrev = r.lbaHighPrev = 0x99;
  return r;
}

struct Scsi : ::testing::Test {
  FakeTransport f;
  TransportContext& t = f.ctx;
  Scsi() {
    f.state.DriveTarget.kind = TransportKind::scsiPassThrough;
    f.state.DriveTarget.scsiHandle = f.io.Open(kUsbDrive);
  }
};

TEST(SatCdb, BothFormsCarryTheSevenRegistersAndNoPreviousBytes) {
  using D = DataDirection;
  struct Case {
    D dir;
    Bytes cdb12;
    Bytes cdb16;
  };
  const Case cases[] = {
      {D::none,
       {0xA1, 0x06, 0x00, 0x11, 0x02, 0x33, 0x44, 0x55, 0xA0, 0xEC, 0, 0},
       {0x85, 0x07, 0x0C, 0, 0x11, 0, 0x02, 0, 0x33, 0, 0x44, 0, 0x55, 0xA0, 0xEC, 0}},
      {D::in,
       {0xA1, 0x08, 0x0E, 0x11, 0x02, 0x33, 0x44, 0x55, 0xA0, 0xEC, 0, 0},
       {0x85, 0x09, 0x0E, 0, 0x11, 0, 0x02, 0, 0x33, 0, 0x44, 0, 0x55, 0xA0, 0xEC, 0}},
      {D::out,
       {0xA1, 0x0A, 0x06, 0x11, 0x02, 0x33, 0x44, 0x55, 0xA0, 0xEC, 0, 0},
       {0x85, 0x0B, 0x06, 0, 0x11, 0, 0x02, 0, 0x33, 0, 0x44, 0, 0x55, 0xA0, 0xEC, 0}},
  };
  for (const Case& c : cases) {
    const auto a = SatCdb12(Regs(0xEC, 2), c.dir);
    const auto b = SatCdb16(Regs(0xEC, 2), c.dir);
    EXPECT_EQ(Bytes(a.begin(), a.end()), c.cdb12) << int(c.dir);
    EXPECT_EQ(Bytes(b.begin(), b.end()), c.cdb16) << int(c.dir);
  }
}

TEST_F(Scsi, TheFormSentFollowsTheTargetAndTheDirectionSetsTheFields) {
  auto& buf = f.state.TransferBuffer;
  for (std::size_t i = 0; i < 32768; ++i) buf[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  struct Case {
    bool cdb16;
    DataDirection dir;
    std::uint8_t count;
    std::uint32_t length;
    std::uint8_t proto, transfer;
  };
  for (const Case& c : {Case{false, DataDirection::none, 0, 0, 0x06, 0x00},
                        Case{true, DataDirection::none, 0, 0, 0x07, 0x0C},
                        Case{false, DataDirection::out, 64, 32768, 0x0A, 0x06},
                        Case{true, DataDirection::in, 2, 1024, 0x09, 0x0E}}) {
    f.io.calls.clear();
    f.state.DriveTarget.use16ByteCdb = c.cdb16;
    const AtaTaskFile regs = Regs(0x92, c.count);
    if (c.dir == DataDirection::none) SatNonData(t, regs);
    if (c.dir == DataDirection::in) SatPioIn(t, buf, regs);
    if (c.dir == DataDirection::out) SatPioOut(t, buf, regs, kFirmwareWriteTimeLimit);
    ASSERT_EQ(f.io.calls.size(), 1u);
    const auto& call = f.io.calls[0];
    EXPECT_EQ(call.handle, kUsbDrive);
    EXPECT_TRUE(call.scsi);
    EXPECT_EQ(call.cdb.length, c.cdb16 ? 16 : 10) << "the 12-byte form goes with ten bytes";
    EXPECT_EQ(call.direction, c.dir);
    EXPECT_EQ(call.length, c.length);
    EXPECT_EQ(call.timeLimit, c.dir == DataDirection::out ? 120u : 5u);
    EXPECT_EQ(call.cdb.bytes[1], c.proto);
    EXPECT_EQ(call.cdb.bytes[2], c.transfer);
    if (c.dir == DataDirection::out) {
      EXPECT_TRUE(std::equal(call.dataOut.begin(), call.dataOut.end(), buf.begin()));
    }
  }
  EXPECT_EQ(f.host.pumps, 4) << "one pump after every request";
}

TEST(SenseToResult, MapsFixedFormatSenseAndRejectsEveryOtherFormat) {
  struct Case {
    Bytes head;
    std::uint8_t code;
  };
  for (const Case& c :
       {Case{{0x00, 0x00, 0x0B}, 0},   // empty: no sense data
        Case{{0x72, 0x00, 0x0B}, 29},  // descriptor format
        Case{{0x73}, 29}, Case{{0x7F, 0x00, 0x05}, 29},
        Case{{0x70, 0x00, 0x0B}, 45},                                // ABORTED COMMAND
        Case{{0x71, 0x00, 0x05}, 39}, Case{{0xF0, 0x00, 0x03}, 37},  // VALID bit set
        Case{{0x70, 0x00, 0x01}, 35}, Case{{0x70, 0x00, 0xEF}, 49},  // flags ignored with a key
        Case{{0x70, 0x00, 0xE0}, 30},                                // FILEMARK first
        Case{{0x70, 0x00, 0x60}, 31}, Case{{0x70, 0x00, 0x20}, 32},
        Case{{0x70, 0x00, 0x00, 0x80}, 33}, Case{{0x70, 0x00, 0x00, 0x7F}, 34}}) {
    Bytes sense(24, 0);
    std::copy(c.head.begin(), c.head.end(), sense.begin());
    EXPECT_EQ(SenseToResult(sense), c.code) << ::testing::PrintToString(c.head);
  }
}

TEST(Win32ErrorToResult, MapsTheListedCodesAndEverythingElseToTen) {
  struct Case {
    std::uint32_t error;
    std::uint8_t code;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{3, 1}, Case{82, 50}, Case{79, 51},
                        Case{121, 51}, Case{87, 52}, Case{208, 52}, Case{192, 53}, Case{209, 55},
                        Case{214, 55}, Case{222, 56}, Case{1117, 56}, Case{5, 10}, Case{6, 10},
                        Case{50, 10}, Case{54, 10}, Case{0xFFFFFFFF, 10}}) {
    EXPECT_EQ(Win32ErrorToResult(c.error), c.code) << c.error;
  }
}

// The outcome of one request: the result code, what the buffer holds after it,
// and one pump whatever happened.
TEST_F(Scsi, OutcomesOfARequest) {
  struct Case {
    const char* what;
    bool completed;
    std::uint32_t error;      // when refused
    std::uint8_t scsiStatus;  // when completed
    Bytes sense;
    std::uint8_t code;
    std::uint8_t bufferAfter;  // the data area holds 0x5A, the buffer 0x33 before
  };
  const Case cases[] = {
      {"good status, stale sense", true, 0, 0x00, {0x70, 0, 0x0B}, 0, 0x5A},
      {"check condition, aborted", true, 0, 0x02, {0x70, 0, 0x0B}, 45, 0x5A},
      {"check condition, descriptor sense", true, 0, 0x02, {0x72, 0, 0x05}, 29, 0x5A},
      {"check condition without sense", true, 0, 0x02, {}, 34, 0x5A},
      {"busy without sense", true, 0, 0x08, {}, 34, 0x5A},
      {"reservation conflict", true, 0, 0x18, {}, 34, 0x5A},
      {"refused: invalid function", false, 1, 0, {}, 10, 0x33},
      {"refused with no error code", false, 0, 0, {}, 10, 0x33},
      {"refused: semaphore time-out", false, 121, 0, {}, 51, 0x33},
      {"refused: not supported", false, 50, 0, {}, 10, 0x33},
  };
  for (const Case& c : cases) {
    FakeTransport g;
    const OsHandle h = g.io.Open(kUsbDrive);
    std::fill_n(g.state.TransferBuffer.begin(), 1024, 0x33);
    FakeDeviceIo::Reply reply = FakeDeviceIo::ScsiStatus(c.scsiStatus, c.sense);
    reply.ok = c.completed;
    reply.error = c.error;
    reply.dataIn = [](std::span<std::uint8_t> data) { std::fill(data.begin(), data.end(), 0x5A); };
    g.io.replies.push_back(reply);
    const auto cdb = SatCdb12(Regs(), DataDirection::in);
    EXPECT_EQ(ScsiPassThrough(g.ctx, h, cdb, 10, g.state.TransferBuffer, 512, DataDirection::in),
              c.code)
        << c.what;
    EXPECT_EQ(g.state.TransferBuffer[0], c.bufferAfter) << c.what;
    EXPECT_EQ(g.state.TransferBuffer[511], c.bufferAfter) << c.what;
    EXPECT_EQ(g.state.TransferBuffer[512], 0x33) << c.what;
    EXPECT_EQ(g.host.pumps, 1) << c.what;
    EXPECT_TRUE(g.host.log.empty()) << c.what;
  }
}

TEST_F(Scsi, TheEntriesSucceedExactlyOnResultZero) {
  f.io.replies.push_back(FakeDeviceIo::ScsiStatus(0x02));
  f.io.replies.push_back(FakeDeviceIo::Refused(win32::ERROR_INVALID_FUNCTION_));
  f.io.replies.push_back(FakeDeviceIo::ScsiStatus(0x00, {0x70, 0, 0x0B}));
  EXPECT_FALSE(SatNonData(t, Regs(0x80, 0)));
  EXPECT_FALSE(SatPioOut(t, f.state.SectorBuffer, Regs(0xB0, 1)));
  EXPECT_TRUE(SatPioIn(t, f.state.SectorBuffer, Regs(0xB0, 1)));
  EXPECT_EQ(f.host.pumps, 3);
}

TEST_F(Scsi, AnInvalidHandleFailsAtOnceWithoutRequestOrPump) {
  f.state.DriveTarget.scsiHandle = kInvalidHandle;
  for (bool cdb16 : {false, true}) {
    f.state.DriveTarget.use16ByteCdb = cdb16;
    EXPECT_FALSE(SatNonData(t, Regs(0x80, 0)));
    EXPECT_FALSE(SatPioIn(t, f.state.TransferBuffer, Regs()));
    EXPECT_FALSE(SatPioOut(t, f.state.TransferBuffer, Regs(0x92, 64)));
  }
  const auto cdb = SatCdb12(Regs(), DataDirection::in);
  EXPECT_EQ(
      ScsiPassThrough(t, kInvalidHandle, cdb, 10, f.state.TransferBuffer, 512, DataDirection::in),
      5);
  EXPECT_TRUE(f.io.calls.empty());
  EXPECT_EQ(f.host.pumps, 0);
  EXPECT_TRUE(f.host.log.empty());
}

TEST_F(Scsi, ATransferOfCountSectorsPastTheBufferIsRefused) {
  // SectorBuffer holds 4,098 bytes: eight sectors fit, nine do not.
  EXPECT_TRUE(SatPioIn(t, f.state.SectorBuffer, Regs(0xB0, 8)));
  EXPECT_FALSE(SatPioIn(t, f.state.SectorBuffer, Regs(0xB0, 9)));
  EXPECT_EQ(f.io.calls.size(), 1u);
  EXPECT_EQ(f.host.pumps, 1);
  EXPECT_EQ(f.host.log, std::vector<std::string>{"Command B0 not sent: its 4608 bytes of data do "
                                                 "not fit in a buffer of 4098 bytes"});
}

}  // namespace
}  // namespace brisquel
