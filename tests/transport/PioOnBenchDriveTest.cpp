// The PIO transport against the bench drive, reached through its channel's
// ports only: the waits, the slave bit and the data phases have to agree with
// a drive that keeps BSY, DRQ and DSC the way the protocol says.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/IdeChannel.h"
#include "support/FakeDeviceIo.h"
#include "support/FakeUiHost.h"
#include "transport/Dispatch.h"

namespace brisquel {
namespace {

// The channel's eight command-block ports at one base.
class ChannelPorts : public PortLibrary {
 public:
  ChannelPorts(sim::IdeChannel& channel, std::uint16_t base) : channel_(channel), base_(base) {}
  bool InitializeOls() override { return true; }
  std::int32_t GetDllStatus() override { return 0; }
  std::int32_t GetDriverType() override { return 1; }
  std::uint8_t ReadIoPortByte(std::uint16_t port) override {
    return Ours(port) ? channel_.ReadByte(Offset(port)) : 0xFF;
  }
  std::uint16_t ReadIoPortWord(std::uint16_t port) override {
    return Ours(port) ? channel_.ReadWord(Offset(port)) : 0xFFFF;
  }
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override {
    if (Ours(port)) channel_.WriteByte(Offset(port), value);
  }
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override {
    if (Ours(port)) channel_.WriteWord(Offset(port), value);
  }
  std::uint32_t ReadPciConfigDword(std::uint32_t, std::uint8_t) override { return 0xFFFFFFFF; }

 private:
  bool Ours(std::uint16_t port) const { return port >= base_ && port < base_ + 8; }
  std::uint8_t Offset(std::uint16_t port) const { return static_cast<std::uint8_t>(port - base_); }
  sim::IdeChannel& channel_;
  std::uint16_t base_;
};

struct PioOnBench : ::testing::Test {
  sim::IdeChannel channel;
  std::shared_ptr<sim::AtaDrive> master =
      std::make_shared<sim::AtaDrive>(sim::DriveIdentity{"BENCH MASTER", "M1.0", "MASTER01"});
  std::shared_ptr<sim::AtaDrive> slave =
      std::make_shared<sim::AtaDrive>(sim::DriveIdentity{"BENCH SLAVE", "S2.0", "SLAVE002"});
  TransportState state;
  ChannelPorts ports{channel, 0x170};
  testing::FakeDeviceIo io;
  testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};

  PioOnBench() {
    channel.Attach(0, master);
    channel.Attach(1, slave);
  }

  bool Identify() {
    return Dispatch(t, {.regs = {.count = 1, .device = 0xA0, .command = 0xEC},
                        .direction = DataDirection::in,
                        .buffer = state.TransferBuffer,
                        .length = 512,
                        .sectors = 1,
                        .pioData = PioData::readSector,
                        .pioReadNeedsDrq = true,
                        .pioZeroWhenSkipped = true})
        .ok();
  }
  // Characters of IDENTIFY words [first, last], high byte first.
  std::string Text(int first, int last) const {
    std::string s;
    for (int w = first; w <= last; ++w) {
      s += static_cast<char>(state.TransferBuffer[2 * w + 1]);
      s += static_cast<char>(state.TransferBuffer[2 * w]);
    }
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
};

TEST_F(PioOnBench, IdentifyReadsTheSelectedDriveAndLeavesItIdle) {
  for (bool toSlave : {false, true}) {
    state.DriveTarget.slave = toSlave;
    master->Faults().busyReads = 3;
    slave->Faults().busyReads = 3;
    ASSERT_TRUE(Identify());
    EXPECT_EQ(Text(27, 46), toSlave ? "BENCH SLAVE" : "BENCH MASTER");
    EXPECT_EQ(Text(23, 26), toSlave ? "S2.0" : "M1.0");
    EXPECT_EQ(Text(10, 19), toSlave ? "SLAVE002" : "MASTER01");
    const sim::AtaDrive& drive = toSlave ? *slave : *master;
    ASSERT_FALSE(drive.History().empty());
    EXPECT_EQ(drive.History().back().dataWordsOut, 256u);
    EXPECT_FALSE(state.AtaStatusBits.BSY || state.AtaStatusBits.DRQ || state.AtaStatusBits.ERR);
  }
}

TEST_F(PioOnBench, AnAbortedCommandEndsTheWaitWithErrAndSkipsTheData) {
  master->Faults().abortCommand = 0xEC;
  std::fill_n(state.TransferBuffer.begin(), 512, 0x33);
  EXPECT_FALSE(Identify());
  EXPECT_TRUE(state.AtaStatusBits.ABRT);
  EXPECT_EQ(state.TransferBuffer[0], 0);
  EXPECT_EQ(master->History().back().dataWordsOut, 0u);
}

TEST_F(PioOnBench, ADriveThatNeverGetsReadyHoldsTheWaitUntilBreak) {
  struct Case {
    bool stayBusy, neverSetDsc, busyOnly;
    int pumps;
  };
  for (const Case& c :
       {Case{true, false, false, 40}, Case{false, true, false, 40}, Case{true, false, true, 40},
        Case{false, true, true, 1}}) {  // the busy wait ignores DSC
    sim::IdeChannel ch;
    auto drive = std::make_shared<sim::AtaDrive>();
    ch.Attach(0, drive);
    drive->Faults().stayBusy = c.stayBusy;
    drive->Faults().neverSetDsc = c.neverSetDsc;
    TransportState s;
    s.DriveTarget.waitBusyOnly = c.busyOnly;
    ChannelPorts p{ch, 0x170};
    testing::FakeUiHost h;
    h.BreakAtPump(s.BreakFlag, 40);
    TransportContext ctx{s, p, io, h};
    Dispatch(ctx, {.regs = {.device = 0xA0, .command = 0xE7}});  // FLUSH CACHE completes
    EXPECT_EQ(h.pumps, c.pumps) << c.stayBusy << c.neverSetDsc << c.busyOnly;
    EXPECT_EQ(s.BreakFlag, c.pumps == 40);
  }
}

// The drive checks the image's checksum, so a lost, repeated or swapped byte
// would show as a refused download.
TEST_F(PioOnBench, SectorsWrittenReachTheDriveIntactAndInOrder) {
  const auto image = sim::MakeBenchFirmware("M2.0", 3);
  ASSERT_EQ(image.size(), 3u * 512);
  std::copy(image.begin(), image.end(), state.TransferBuffer.begin());
  EXPECT_TRUE(Dispatch(t, {.regs = {.features = 0x07, .count = 3, .device = 0xA0, .command = 0x92},
                           .direction = DataDirection::out,
                           .buffer = state.TransferBuffer,
                           .length = 3 * 512,
                           .sectors = 3,
                           .pioData = PioData::writeSectors,
                           .pioDataNeedsNoError = false}));
  EXPECT_EQ(master->History().back().dataWordsIn, 3u * 256);
  EXPECT_EQ(master->FirmwareRevision(), "M2.0");
}

}  // namespace
}  // namespace brisquel
