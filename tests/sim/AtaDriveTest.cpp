// The bench drive seen through its ports: registers, status, busy time,
// IDENTIFY data, faults and the command history.
#include <gtest/gtest.h>

#include <string>

#include "sim/DriveHost.h"

namespace brisquel::sim::drivetest {
namespace {

std::uint16_t Word(const std::vector<std::uint8_t>& sector, int w) {
  return static_cast<std::uint16_t>(sector[2 * w] | sector[2 * w + 1] << 8);
}

std::string Padded(std::string text, std::size_t size) {
  text.resize(size, ' ');
  return text;
}

TEST(AtaDriveIdentify, StringsFeatureWordsAndChecksum) {
  struct Case {
    DriveIdentity identity;
  };
  const Case cases[] = {
      {{"BENCH SATA DRIVE", "BF1.00", "SIM0000001"}},
      // Odd lengths, and fields that fill their words exactly or overflow them.
      {{"M", "ABCDEFG", "S1234"}},
      {{std::string(40, 'X'), "12345678", std::string(20, '9')}},
      {{std::string(45, 'Y'), "123456789", std::string(25, '7')}},
  };
  for (const auto& c : cases) {
    DriveHost host(c.identity);
    std::vector<std::uint8_t> sector;
    EXPECT_EQ(host.Run(Identify(), {}, &sector), kDrdy | kDsc);
    ASSERT_EQ(sector.size(), 512u);
    EXPECT_EQ(AtaString(sector, 27, 20), Padded(c.identity.model.substr(0, 40), 40));
    EXPECT_EQ(AtaString(sector, 23, 4), Padded(c.identity.firmware.substr(0, 8), 8));
    EXPECT_EQ(AtaString(sector, 10, 10), Padded(c.identity.serial.substr(0, 20), 20));
    for (int w : {83, 86}) EXPECT_TRUE(Word(sector, w) & 0x0001) << "word " << w;
    for (int w : {119, 120}) EXPECT_TRUE(Word(sector, w) & 0x0010) << "word " << w;
    EXPECT_EQ(Word(sector, 234), 1);
    EXPECT_EQ(Word(sector, 235), 64);
    EXPECT_EQ(sector[510], 0xA5);
    std::uint8_t sum = 0;
    for (auto b : sector) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
  }
}

TEST(AtaDriveStatus, BusyLastsTheSetNumberOfStatusReads) {
  DriveHost host;
  host.drive->Faults().busyReads = 3;
  host.Issue(Identify());
  // While busy, every register reads as status and no command is taken.
  EXPECT_EQ(host.channel.ReadByte(7), kBsy);
  EXPECT_EQ(host.channel.ReadByte(1), kBsy);
  EXPECT_EQ(host.channel.ReadByte(4), kBsy);
  host.Issue(Command(0xE7));
  EXPECT_EQ(host.drive->History().size(), 1u);
  EXPECT_EQ(host.channel.ReadWord(0), 0);  // no data before DRQ
  EXPECT_EQ(host.WaitNotBusy(), kDrdy | kDsc | kDrq);
  EXPECT_EQ(host.polls, 2u);  // two more reads showed BSY, three in all
  // The early read took nothing: the sector comes whole.
  std::vector<std::uint16_t> words;
  for (int i = 0; i < 256; ++i) words.push_back(host.channel.ReadWord(0));
  EXPECT_EQ(words.front(), 0x0040);
  EXPECT_EQ(words.back() & 0xFF, 0xA5);
  // The drive is busy again after the sector has moved.
  EXPECT_EQ(host.WaitNotBusy(), kDrdy | kDsc);
  EXPECT_EQ(host.polls, 3u);
  EXPECT_EQ(host.drive->History().back().dataWordsOut, 257u);  // every read at the port counts
}

TEST(AtaDriveStatus, StayBusyAndNeverSetDsc) {
  DriveHost host;
  host.drive->Faults().stayBusy = true;
  host.Issue(Command(0xE7));
  EXPECT_EQ(host.WaitNotBusy(5000), kBsy);
  host.drive->Faults().stayBusy = false;
  EXPECT_EQ(host.WaitNotBusy(), kDrdy | kDsc);

  host.drive->Faults().neverSetDsc = true;
  EXPECT_EQ(host.Run(Command(0xE7)), kDrdy);
  std::vector<std::uint8_t> sector;
  EXPECT_EQ(host.Run(Identify(), {}, &sector), kDrdy);
  EXPECT_EQ(sector.size(), 512u);
}

TEST(AtaDriveStatus, AbortFaultByCommandAndFeatures) {
  struct Case {
    std::optional<std::uint8_t> command, features;
    AtaTaskFile sent;
    bool aborted;
  };
  const Case cases[] = {
      {0xEC, std::nullopt, Identify(), true},
      {0xEC, std::nullopt, Command(0xE7), false},
      {0xB0, 0xD6, SmartLog(0xD6, 0xBE, 1), true},
      {0xB0, 0xD6, SmartLog(0xD5, 0xBB, 0), false},
      {std::nullopt, std::nullopt, Command(0x42), true},  // not a command the drive knows
      {std::nullopt, std::nullopt, Command(0x00), true},  // NOP always aborts
      {std::nullopt, std::nullopt, Command(0xB0, 0xD5, 0, 0xBB, 0x00, 0x00), true},  // no SMART key
  };
  for (const auto& c : cases) {
    DriveHost host;
    host.drive->Faults().abortCommand = c.command;
    host.drive->Faults().abortFeatures = c.features;
    std::vector<std::uint8_t> in;
    const std::uint8_t status = host.Run(c.sent, {}, &in);
    SCOPED_TRACE(testing::Message() << "command " << int(c.sent.command));
    if (c.aborted) {
      EXPECT_EQ(status, kDrdy | kErr);  // an abort leaves DSC clear
      EXPECT_EQ(host.Error(), kAbrt);
      EXPECT_TRUE(in.empty());
    } else {
      EXPECT_EQ(status & kErr, 0);
      EXPECT_EQ(host.Error(), 0);
    }
    EXPECT_EQ(host.drive->History().size(), 1u);
  }
  // A bench file can ask for the older behaviour, and the next command takes DSC back.
  DriveHost host;
  host.drive->Faults().dscAfterAbort = true;
  EXPECT_EQ(host.Run(Command(0x00), {}), kDrdy | kDsc | kErr);
  host.drive->Faults().dscAfterAbort = false;
  EXPECT_EQ(host.Run(Command(0x00), {}), kDrdy | kErr);
  EXPECT_EQ(host.Run(Command(0xE7), {}), kDrdy | kDsc);
}

TEST(AtaDriveRegisters, SecondWriteShiftsTheFirstIntoPrevious) {
  DriveHost host;
  AtaTaskFile tf = Command(0xE7, 0x11, 0x22, 0x33, 0x44, 0x55);
  tf.featuresPrev = 0x66;
  tf.countPrev = 0x77;
  tf.lbaLowPrev = 0x88;
  tf.lbaMidPrev = 0x99;
  tf.lbaHighPrev = 0xAA;
  tf.device = 0xE0;
  host.Issue(tf, true);
  EXPECT_EQ(host.channel.ReadByte(2), 0x22);  // reads give the current byte
  const auto& r = host.drive->History().at(0);
  EXPECT_EQ((std::array{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command}),
            (std::array<std::uint8_t, 7>{0x11, 0x22, 0x33, 0x44, 0x55, 0xE0, 0xE7}));
  EXPECT_EQ((std::array{r.featuresPrev, r.countPrev, r.lbaLowPrev, r.lbaMidPrev, r.lbaHighPrev}),
            (std::array<std::uint8_t, 5>{0x66, 0x77, 0x88, 0x99, 0xAA}));
  // A 28-bit write after it: the previous bytes are what was current before.
  host.WaitNotBusy();
  host.Issue(Command(0xE7, 1, 2, 3, 4, 5));
  const auto& s = host.drive->History().at(1);
  EXPECT_EQ((std::array{s.featuresPrev, s.countPrev, s.lbaLowPrev, s.lbaMidPrev, s.lbaHighPrev}),
            (std::array<std::uint8_t, 5>{0x11, 0x22, 0x33, 0x44, 0x55}));
}

TEST(AtaDriveRegisters, DataPortOutsideATransferMovesNothing) {
  DriveHost host;
  EXPECT_EQ(host.Run(Command(0xE7)), kDrdy | kDsc);
  host.channel.WriteWord(0, 0x1234);
  EXPECT_EQ(host.channel.ReadWord(0), 0);
  // The history still shows what the host did at the port.
  EXPECT_EQ(host.drive->History().back().dataWordsIn, 1u);
  EXPECT_EQ(host.drive->History().back().dataWordsOut, 1u);
  EXPECT_EQ(host.WaitNotBusy(), kDrdy | kDsc);
}

TEST(AtaDriveState, FirmwareStateSurvivesSaveAndLoad) {
  AtaDrive drive({"M", "OLD1", "S"});
  EXPECT_TRUE(drive.LoadFirmwareState("active=TMP9\npermanent=NEW2\ndeferred=NEXT3\n"));
  const std::string saved = drive.SaveFirmwareState();
  AtaDrive other({"M", "OLD1", "S"});
  ASSERT_TRUE(other.LoadFirmwareState(saved));
  EXPECT_EQ(other.FirmwareRevision(), "TMP9");
  EXPECT_EQ(other.PermanentRevision(), "NEW2");
  EXPECT_EQ(other.DeferredRevision(), "NEXT3");
  // Any byte of a captured revision survives, escaped.
  AtaDrive captured({"M", std::string("A\n\\\x01]", 5), "S"});
  ASSERT_TRUE(other.LoadFirmwareState(captured.SaveFirmwareState()));
  EXPECT_EQ(other.FirmwareRevision(), std::string("A\n\\\x01]", 5));
  ASSERT_TRUE(other.LoadFirmwareState(saved));
  other.PowerCycle();  // temporary firmware does not survive power
  EXPECT_EQ(other.FirmwareRevision(), "NEW2");

  for (const char* bad : {"", "active=A\n", "active=A\npermanent=B\nflavour=C\n",
                          "active=\npermanent=B\n", "active=TOOLONGREV\npermanent=B\n", "junk",
                          "active=\\x4\npermanent=B\n"}) {
    EXPECT_FALSE(other.LoadFirmwareState(bad)) << bad;
    EXPECT_EQ(other.FirmwareRevision(), "NEW2");
  }
}

}  // namespace
}  // namespace brisquel::sim::drivetest
