#include <gtest/gtest.h>

#include <numeric>

#include "support/FakeTransport.h"
#include "transport/uATA.h"

namespace brisquel {
namespace {

using testing::FakeTransport;
using testing::PortAccess;
using testing::Rd16;
using testing::Rd8;
using testing::Wr16;
using testing::Wr8;

constexpr std::uint16_t kBase = 0x1F0;
constexpr std::uint16_t kStatus = kBase + 7;
constexpr std::uint16_t kError = kBase + 1;

struct Pio : ::testing::Test {
  FakeTransport f;
  TransportContext& t = f.ctx;
  Pio() { f.state.DriveTarget.basePort = kBase; }
};

AtaTaskFile DistinctRegs() {
  AtaTaskFile r;
  r.features = 0x11;
  r.count = 0x22;
  r.lbaLow = 0x33;
  r.lbaMid = 0x44;
  r.lbaHigh = 0x55;
  r.device = 0xA0;
  r.command = 0xEC;
  r.featuresPrev = 0x81;
  r.countPrev = 0x82;
  r.lbaLowPrev = 0x83;
  r.lbaMidPrev = 0x84;
  r.lbaHighPrev = 0x85;
  return r;
}

TEST_F(Pio, TaskFileWritesGoOutInOrderAsSingleBytesWithTheSlaveBit) {
  struct Case {
    bool lba48;
    bool slave;
    std::vector<PortAccess> expected;
  };
  const std::vector<Case> cases = {
      {false,
       false,
       {Wr8(0x1F6, 0xA0), Wr8(0x1F1, 0x11), Wr8(0x1F2, 0x22), Wr8(0x1F3, 0x33), Wr8(0x1F4, 0x44),
        Wr8(0x1F5, 0x55), Wr8(0x1F7, 0xEC)}},
      {false,
       true,
       {Wr8(0x1F6, 0xB0), Wr8(0x1F1, 0x11), Wr8(0x1F2, 0x22), Wr8(0x1F3, 0x33), Wr8(0x1F4, 0x44),
        Wr8(0x1F5, 0x55), Wr8(0x1F7, 0xEC)}},
      {true,
       true,
       {Wr8(0x1F6, 0xB0), Wr8(0x1F1, 0x81), Wr8(0x1F2, 0x82), Wr8(0x1F3, 0x83), Wr8(0x1F4, 0x84),
        Wr8(0x1F5, 0x85), Wr8(0x1F1, 0x11), Wr8(0x1F2, 0x22), Wr8(0x1F3, 0x33), Wr8(0x1F4, 0x44),
        Wr8(0x1F5, 0x55), Wr8(0x1F7, 0xEC)}},
  };
  for (const Case& c : cases) {
    FakeTransport g;
    g.state.DriveTarget.basePort = kBase;
    g.state.DriveTarget.slave = c.slave;
    if (c.lba48) {
      WriteTaskFile48(g.ctx, DistinctRegs());
    } else {
      WriteTaskFile28(g.ctx, DistinctRegs());
    }
    EXPECT_EQ(g.ports.accesses, c.expected) << "lba48=" << c.lba48 << " slave=" << c.slave;
    EXPECT_EQ(g.host.pumps, 0);
  }
}

TEST_F(Pio, StatusAndErrorAreOneByteReadEachAndSkippedForScsiTargets) {
  f.ports.ScriptBytes(kStatus, {0xD1});
  f.ports.ScriptBytes(kError, {0x84});
  ReadStatus(t);
  ReadError(t);
  EXPECT_EQ(f.ports.accesses, (std::vector{Rd8(kStatus, 0xD1), Rd8(kError, 0x84)}));
  const AtaStatusBits& b = f.state.AtaStatusBits;
  EXPECT_TRUE(b.BSY && b.DRDY && b.DSC && b.ERR);
  EXPECT_FALSE(b.DF || b.DRQ || b.CORR || b.IDX);
  EXPECT_TRUE(b.BBK && b.ABRT);
  EXPECT_FALSE(b.UNC || b.MC || b.IDNF || b.MCR || b.TK0NF || b.AMNF);

  f.ports.accesses.clear();
  f.state.DriveTarget.kind = TransportKind::scsiPassThrough;
  f.ports.ScriptBytes(kStatus, {0x00});
  f.ports.ScriptBytes(kError, {0x00});
  ReadStatus(t);
  ReadError(t);
  EXPECT_TRUE(f.ports.accesses.empty());
  EXPECT_TRUE(b.BSY && b.ERR && b.BBK);
}

// Each status poll of WaitReady is a read then a pump; WaitNotBusy pumps first.
// Both end with exactly one error read.
TEST_F(Pio, WaitsPollUntilTheirConditionThenReadTheErrorRegister) {
  struct Case {
    bool busyOnly;
    std::vector<std::uint8_t> statuses;
    std::size_t reads;
    bool err;
  };
  const Case cases[] = {
      {false, {0x50}, 1, false},
      {false, {0x40, 0x40, 0x50}, 3, false},  // no DSC: keeps polling
      {false, {0x80, 0xD0, 0x50}, 3, false},  // busy, even with DRDY and DSC
      {false, {0x51}, 1, true},               // an error does not stop it; ERR shows
      {false, {0x58}, 1, false},              // DRQ is no reason to stop either
      {false, {0x00, 0x10, 0x40, 0x50}, 4, false},
      {true, {0x80, 0x80, 0x40}, 3, false},  // not busy is enough
      {true, {0x41}, 1, true},
  };
  for (const Case& c : cases) {
    FakeTransport g;
    g.state.DriveTarget.basePort = kBase;
    g.state.DriveTarget.waitBusyOnly = c.busyOnly;
    g.ports.ScriptBytes(kStatus, c.statuses);
    g.ports.ScriptBytes(kError, {0x04});
    std::vector<std::size_t> accessesAtPump;
    g.host.onPump = [&](int) { accessesAtPump.push_back(g.ports.accessCount); };
    WaitDevice(g.ctx);

    const auto what = ::testing::PrintToString(c.statuses) + (c.busyOnly ? " busy-only" : "");
    ASSERT_EQ(g.ports.accesses.size(), c.reads + 1) << what;
    for (std::size_t i = 0; i < c.reads; ++i) {
      EXPECT_EQ(g.ports.accesses[i], Rd8(kStatus, c.statuses[i])) << what;
      // Ready wait: the i-th pump follows the i-th read; busy wait: it precedes it.
      EXPECT_EQ(accessesAtPump[i], c.busyOnly ? i : i + 1) << what;
    }
    EXPECT_EQ(g.ports.accesses.back(), Rd8(kError, 0x04)) << what;
    EXPECT_EQ(g.host.pumps, static_cast<int>(c.reads)) << what;
    EXPECT_EQ(g.state.AtaStatusBits.ERR, c.err) << what;
    EXPECT_TRUE(g.state.AtaStatusBits.ABRT) << what;
  }
}

TEST_F(Pio, WithBreakAlreadySetAWaitOnlyReadsTheErrorRegister) {
  for (bool busyOnly : {false, true}) {
    FakeTransport g;
    g.state.DriveTarget.basePort = kBase;
    g.state.DriveTarget.waitBusyOnly = busyOnly;
    g.state.BreakFlag = true;
    g.state.AtaStatusBits.DecodeStatus(0xD0);
    g.ports.ScriptBytes(kStatus, {0x50});
    g.ports.ScriptBytes(kError, {0x01});
    WaitDevice(g.ctx);
    EXPECT_EQ(g.ports.accesses, std::vector{Rd8(kError, 0x01)}) << busyOnly;
    EXPECT_EQ(g.host.pumps, 0);
    EXPECT_TRUE(g.state.AtaStatusBits.BSY) << "status group keeps its last values";
    EXPECT_TRUE(g.state.AtaStatusBits.AMNF);
  }
}

// A device that never gets ready keeps the wait polling until Break is pressed
// during a pump. The ready wait has read the status before that pump; the
// busy wait pumps first, so it ends one read short.
TEST_F(Pio, ADeviceThatNeverGetsReadyIsLeftByBreakAtTheNthPump) {
  struct Case {
    bool busyOnly;
    std::uint8_t status;
    std::size_t reads;
  };
  for (const Case& c :
       {Case{false, 0x40, 7}, Case{false, 0x80, 7}, Case{false, 0xD0, 7}, Case{true, 0x80, 6}}) {
    FakeTransport g;
    g.state.DriveTarget.basePort = kBase;
    g.state.DriveTarget.waitBusyOnly = c.busyOnly;
    g.ports.ScriptBytes(kStatus, {c.status});
    g.host.BreakAtPump(g.state.BreakFlag, 7);
    WaitDevice(g.ctx);
    EXPECT_EQ(g.host.pumps, 7);
    EXPECT_EQ(g.ports.Count([](const PortAccess& a) { return a.port == kStatus; }), c.reads);
    EXPECT_EQ(g.ports.accesses.back(), Rd8(kError, 0xFF));
    EXPECT_EQ(g.ports.accesses.size(), c.reads + 1);

    // Every further wait returns at once.
    g.ports.accesses.clear();
    WaitDevice(g.ctx);
    EXPECT_EQ(g.ports.accesses, std::vector{Rd8(kError, 0xFF)});
  }
}

TEST_F(Pio, ReadSectorWaitsReadsTwoHundredFiftySixWordsLowByteFirstAndWaitsAgain) {
  f.ports.ScriptBytes(kStatus, {0x58});
  f.ports.ScriptBytes(kError, {0x00});
  f.ports.wordSource = [](std::uint16_t, std::size_t i) {
    return static_cast<std::uint16_t>(0xA500 + i);
  };
  std::fill(f.state.TransferBuffer.begin(), f.state.TransferBuffer.begin() + 1024, 0xEE);
  PioReadSector(t);

  std::vector<PortAccess> expected = {Rd8(kStatus, 0x58), Rd8(kError, 0)};
  for (std::uint16_t i = 0; i < 256; ++i) expected.push_back(Rd16(kBase, 0xA500 + i));
  expected.insert(expected.end(), {Rd8(kStatus, 0x58), Rd8(kError, 0)});
  EXPECT_EQ(f.ports.accesses, expected);
  const auto& buf = f.state.TransferBuffer;
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(buf[1], 0xA5);
  EXPECT_EQ(buf[510], 0xFF);
  EXPECT_EQ(buf[511], 0xA5);
  EXPECT_EQ(buf[512], 0xEE) << "nothing past the sector is touched";

  f.ports.accesses.clear();
  f.state.DriveTarget.kind = TransportKind::scsiPassThrough;
  PioReadSector(t);
  EXPECT_TRUE(f.ports.accesses.empty());
}

TEST_F(Pio, WriteSectorsSendsEachSectorThenWaitsAndNothingForZeroOrLess) {
  f.ports.ScriptBytes(kStatus, {0x50});
  f.ports.ScriptBytes(kError, {0x00});
  auto& buf = f.state.TransferBuffer;
  for (std::size_t i = 0; i < 1536; ++i) buf[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));

  for (std::int32_t n : {0, -1, -32768}) {
    PioWriteSectors(t, n);
    EXPECT_TRUE(f.ports.accesses.empty()) << n;
    EXPECT_EQ(f.host.pumps, 0) << n;
  }

  PioWriteSectors(t, 2);
  std::vector<PortAccess> expected;
  for (std::size_t k = 0; k < 2; ++k) {
    for (std::size_t j = 0; j < 256; ++j) {
      const std::size_t at = 512 * k + 2 * j;
      expected.push_back(Wr16(kBase, static_cast<std::uint16_t>(buf[at] | buf[at + 1] << 8)));
    }
    expected.insert(expected.end(), {Rd8(kStatus, 0x50), Rd8(kError, 0)});
  }
  EXPECT_EQ(f.ports.accesses, expected);
}

TEST_F(Pio, WriteSectorsFinishesTheSectorInProgressWhenBreakIsPressed) {
  f.ports.ScriptBytes(kStatus, {0x80, 0x50});
  f.host.BreakAtPump(f.state.BreakFlag, 1);  // during the first sector's wait
  PioWriteSectors(t, 5);
  EXPECT_EQ(f.ports.Count([](const PortAccess& a) { return a.op == PortAccess::write; }), 256u);
  EXPECT_EQ(f.ports.accesses.back(), Rd8(kError, 0xFF));
}

// The count is trusted by nobody: only the sectors the buffer holds are sent.
TEST_F(Pio, WriteSectorsNeverReadsPastTheEndOfTheBuffer) {
  f.ports.ScriptBytes(kStatus, {0x50});
  f.ports.record = false;
  PioWriteSectors(t, 32769);  // 16,777,218 bytes hold 32,768 whole sectors
  EXPECT_EQ(f.ports.accessCount, 32768u * (256 + 2));

  FakeTransport g;
  g.ports.ScriptBytes(0x177, {0x50});
  PioWriteSectors(g.ctx, 3, std::span(g.state.TransferBuffer).first(2 * 512 + 2));
  EXPECT_EQ(g.ports.Count([](const PortAccess& a) { return a.width == 16; }), 512u);
  EXPECT_EQ(g.host.pumps, 2);
}

}  // namespace
}  // namespace brisquel
