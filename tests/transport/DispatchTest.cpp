#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/FakeTransport.h"
#include "transport/AtaCommands.h"
#include "transport/Dispatch.h"
#include "transport/OpenDrive.h"

namespace brisquel {
namespace {

using testing::FakeDeviceIo;
using testing::FakeTransport;
using testing::PortAccess;
using testing::Wr8;

// Port accesses in short form: "dev=A0 w1 .. w5 cmd=EC" for the task file,
// "st"/"err" for status/error reads, "in*256"/"out*256" for runs of data words.
std::string Trace(const std::vector<PortAccess>& accesses, std::uint16_t base) {
  std::string out;
  char text[16];
  for (std::size_t i = 0; i < accesses.size();) {
    const PortAccess& a = accesses[i];
    const int reg = a.port - base;
    if (a.width == 16) {
      std::size_t j = i;
      while (j < accesses.size() && accesses[j].width == 16 && accesses[j].op == a.op) ++j;
      std::snprintf(text, sizeof text, "%s*%zu", a.op == PortAccess::read ? "in" : "out", j - i);
      i = j;
    } else if (a.op == PortAccess::read) {
      std::snprintf(text, sizeof text, "%s", reg == 7 ? "st" : reg == 1 ? "err" : "r?");
      ++i;
    } else if (reg == 6 || reg == 7) {
      std::snprintf(text, sizeof text, "%s=%02X", reg == 6 ? "dev" : "cmd", a.value);
      ++i;
    } else {
      std::snprintf(text, sizeof text, "w%d", reg);
      ++i;
    }
    if (!out.empty()) out += ' ';
    out += text;
  }
  return out;
}

AtaTaskFile Regs(std::uint8_t command, std::uint8_t count = 0, std::uint8_t features = 0) {
  AtaTaskFile r;
  r.features = features;
  r.count = count;
  r.device = 0xA0;
  r.command = command;
  return r;
}

// Firmware writes get the time a drive needs to commit them to flash; every
// other command the usual few seconds. Each pass-through request carries its
// command's limit; a limit that expires ends the command as timed out.
TEST(Dispatch, EachCommandCarriesItsTimeLimitInTheRequest) {
  std::vector<std::uint8_t> sector(kSectorSize), buffer(64 * kSectorSize);
  struct Case {
    const char* what;
    AtaCommand command;
    std::uint32_t seconds;
  };
  const Case cases[] = {
      {"identify", IdentifyCommand(sector), 5},
      {"dlmc 03 segment", DownloadMicrocodeCommand(0x03, 64, 64, buffer), 120},
      {"dlmc 07 image", DownloadMicrocodeCommand(0x07, 8, 0, buffer), 120},
      {"dlmc 0F activation", ActivateMicrocodeCommand(), 120},
      {"vendor enable", VendorEnableCommand(), 5},
      {"vendor enable by log", VendorEnableByLogCommand(), 5},
      {"key sector", WriteKeySectorCommand(sector), 120},
      {"vendor status", ReadVendorStatusCommand(sector), 5},
      {"vendor data", WriteVendorDataCommand(64, buffer), 120},
  };
  for (const Case& c : cases) {
    for (TransportKind kind : {TransportKind::ataPassThrough, TransportKind::scsiPassThrough}) {
      SCOPED_TRACE(std::string(c.what) +
                   (kind == TransportKind::ataPassThrough ? " ata" : " scsi"));
      FakeTransport g;
      g.state.DriveTarget.kind = kind;
      g.state.DriveTarget.ataPassHandle = g.io.Open(0x10);
      g.state.DriveTarget.scsiHandle = g.io.Open(0x20);
      g.io.defaultReply = FakeDeviceIo::Refused(win32::ERROR_SEM_TIMEOUT_);
      const CommandResult r = Dispatch(g.ctx, c.command);
      EXPECT_EQ(r.end, CommandEnd::timedOut);
      EXPECT_TRUE(r.EndsTheOperation());
      ASSERT_EQ(g.io.calls.size(), 1u);
      EXPECT_EQ(g.io.calls[0].timeLimit, c.seconds);
    }
  }
}

TEST(Dispatch, TheTargetKindPicksTheTransportAndItsResultSetsErr) {
  struct Case {
    TransportKind kind;
    bool scsi;
    bool ports;
  };
  for (const Case& c :
       {Case{TransportKind::ataPassThrough, false, false},
        Case{TransportKind::scsiPassThrough, true, false}, Case{TransportKind::pio, false, true}}) {
    for (bool fails : {false, true}) {
      FakeTransport g;
      g.state.DriveTarget.kind = c.kind;
      g.state.DriveTarget.ataPassHandle = g.io.Open(0x10);
      g.state.DriveTarget.scsiHandle = g.io.Open(0x20);
      g.ports.ScriptBytes(0x177, {static_cast<std::uint8_t>(fails ? 0x51 : 0x50)});
      if (c.kind == TransportKind::ataPassThrough) {
        g.io.defaultReply = FakeDeviceIo::AtaRegisters(fails ? 0x51 : 0x50);
      } else {
        g.io.defaultReply = FakeDeviceIo::ScsiStatus(fails ? 0x02 : 0x00);
      }
      g.state.AtaStatusBits.DRQ = true;
      g.state.AtaStatusBits.ERR = !fails;
      const bool ok = Dispatch(g.ctx, {.regs = Regs(0xE7)}).ok();
      EXPECT_EQ(ok, !fails) << int(c.kind);
      EXPECT_EQ(g.state.AtaStatusBits.ERR, fails);
      EXPECT_EQ(g.io.calls.size(), c.ports ? 0u : 1u);
      if (!c.ports) {
        EXPECT_EQ(g.io.calls[0].scsi, c.scsi);
      }
      EXPECT_EQ(g.ports.accesses.empty(), !c.ports);
      if (c.kind == TransportKind::scsiPassThrough) {
        EXPECT_TRUE(g.state.AtaStatusBits.DRQ) << "SCSI changes ERR only";
      }
    }
  }
}

TEST(Dispatch, WithNothingSelectedCommandsGoToDeviceZeroAt170) {
  FakeTransport g;
  g.ports.ScriptBytes(0x177, {0x50});
  Dispatch(g.ctx, {.regs = Regs(0xE7)});
  ASSERT_FALSE(g.ports.accesses.empty());
  EXPECT_EQ(g.ports.accesses.front(), Wr8(0x176, 0xA0));
  EXPECT_EQ(Trace(g.ports.accesses, 0x170), "dev=A0 w1 w2 w3 w4 w5 cmd=E7 st err");
}

TEST(Dispatch, ApiModeBeforeAnySelectionFailsEveryCommandAndLogsIt) {
  FakeTransport g;
  g.state.DriveTarget.kind = TransportKind::ataPassThrough;
  EXPECT_FALSE(Dispatch(g.ctx, {.regs = Regs(0xE7)}));
  EXPECT_TRUE(g.state.AtaStatusBits.ERR);
  EXPECT_EQ(g.host.log, std::vector<std::string>{"IOCTL_ATA_PASS_THROUGH The handle is invalid"});
}

// The PIO shapes the drive operations use, run against a drive whose status
// is fixed, traced port by port.
TEST(Dispatch, PioShapes) {
  struct Case {
    const char* what;
    std::uint8_t status;
    AtaCommand command;
    bool sectorBuffer;
    std::string trace;
    std::uint8_t firstByte;  // of the buffer afterwards; it holds 0x33 before
  };
  const std::string tf28 = "dev=A0 w1 w2 w3 w4 w5";
  const std::string tf48 = "dev=A0 w1 w2 w3 w4 w5 w1 w2 w3 w4 w5";
  const AtaCommand identify = {.regs = Regs(0xEC, 1),
                               .direction = DataDirection::in,
                               .length = 512,
                               .sectors = 1,
                               .pioData = PioData::readSector,
                               .pioReadNeedsDrq = true,
                               .pioZeroWhenSkipped = true};
  const AtaCommand keySector = {.regs = Regs(0xB0, 1, 0xD6),
                                .direction = DataDirection::out,
                                .length = 512,
                                .sectors = 1,
                                .form = TaskFileForm::lba48,
                                .pioData = PioData::writeWords,
                                .pioDataNeedsNoError = false};
  const AtaCommand statusRead = {.regs = Regs(0xB0, 1, 0xD5),
                                 .direction = DataDirection::in,
                                 .length = 512,
                                 .sectors = 1,
                                 .form = TaskFileForm::lba48,
                                 .pioData = PioData::readWords,
                                 .pioWaitBeforeCommand = true};
  const AtaCommand vendorData = {.regs = Regs(0xB0, 2, 0xD6),
                                 .direction = DataDirection::out,
                                 .length = 1024,
                                 .sectors = 2,
                                 .form = TaskFileForm::lba48,
                                 .pioData = PioData::writeSectors};
  const AtaCommand dlmc = {.regs = Regs(0x92, 2, 0x07),
                           .direction = DataDirection::out,
                           .length = 1024,
                           .sectors = 2,
                           .pioData = PioData::writeSectors,
                           .pioDataNeedsNoError = false};
  const Case cases[] = {
      {"identify", 0x58, identify, false, tf28 + " cmd=EC st err st err in*256 st err", 0x5A},
      {"identify without DRQ", 0x50, identify, false, tf28 + " cmd=EC st err", 0x00},
      {"identify with ERR", 0x59, identify, false, tf28 + " cmd=EC st err", 0x00},
      {"key sector despite ERR", 0x59, keySector, true, tf48 + " cmd=B0 st err out*256 st err",
       0x33},
      // ERR without DRQ: the drive has ended the command and takes no data.
      {"key sector after an abort", 0x51, keySector, true, tf48 + " cmd=B0 st err", 0x33},
      {"status read", 0x50, statusRead, true, "st err " + tf48 + " cmd=B0 st err in*256 st err",
       0x5A},
      {"status read with ERR", 0x51, statusRead, true, "st err " + tf48 + " cmd=B0 st err", 0x33},
      {"vendor data", 0x50, vendorData, false,
       tf48 + " cmd=B0 st err out*256 st err out*256 st err", 0x33},
      {"vendor data with ERR", 0x51, vendorData, false, tf48 + " cmd=B0 st err", 0x33},
      {"download despite ERR", 0x59, dlmc, false,
       tf28 + " cmd=92 st err out*256 st err out*256 st err", 0x33},
      {"download after an abort", 0x51, dlmc, false, tf28 + " cmd=92 st err", 0x33},
  };
  for (const Case& c : cases) {
    FakeTransport g;
    g.ports.ScriptBytes(0x177, {c.status});
    g.ports.wordSource = [](std::uint16_t, std::size_t) -> std::uint16_t { return 0x5A5A; };
    const std::span<std::uint8_t> buffer =
        c.sectorBuffer ? std::span(g.state.SectorBuffer) : std::span(g.state.TransferBuffer);
    std::fill_n(buffer.begin(), 1024, 0x33);
    AtaCommand command = c.command;
    command.buffer = buffer;
    EXPECT_EQ(Dispatch(g.ctx, command).ok(), (c.status & 1) == 0) << c.what;
    EXPECT_EQ(Trace(g.ports.accesses, 0x170), c.trace) << c.what;
    EXPECT_EQ(buffer[0], c.firstByte) << c.what;
    EXPECT_EQ(buffer[511], c.firstByte) << c.what;
    EXPECT_EQ(buffer[512], 0x33) << c.what;
    EXPECT_TRUE(g.host.log.empty()) << c.what;
  }
}

// A command whose data would reach past its buffer is not sent on any transport.
TEST(Dispatch, ACommandThatDoesNotFitItsBufferIsRefused) {
  std::vector<std::uint8_t> small(512, 0x33);
  struct Case {
    const char* what;
    TransportKind kind;
    AtaCommand command;
    std::string line;
  };
  const Case cases[] = {
      {"pass-through length",
       TransportKind::ataPassThrough,
       {.regs = Regs(0x92, 2), .direction = DataDirection::out, .buffer = small, .length = 1024},
       "Command 92 not sent: its 1024 bytes of data do not fit in a buffer of 512 bytes"},
      // Over SCSI the count register sizes the transfer, whatever `length` says.
      {"SAT count",
       TransportKind::scsiPassThrough,
       {.regs = Regs(0x92, 2), .direction = DataDirection::out, .buffer = small, .length = 512},
       "Command 92 not sent: its 1024 bytes of data do not fit in a buffer of 512 bytes"},
      {"PIO sectors",
       TransportKind::pio,
       {.regs = Regs(0x92, 3),
        .direction = DataDirection::out,
        .buffer = small,
        .sectors = 3,
        .pioData = PioData::writeSectors},
       "Command 92 not sent: its 1536 bytes of data do not fit in a buffer of 512 bytes"},
      {"PIO sector words",
       TransportKind::pio,
       {.regs = Regs(0xB0, 1),
        .direction = DataDirection::in,
        .buffer = std::span(small).first(100),
        .pioData = PioData::readWords},
       "Command B0 not sent: its 512 bytes of data do not fit in a buffer of 100 bytes"},
      {"PIO zeroing",
       TransportKind::pio,
       {.regs = Regs(0xEC, 1),
        .direction = DataDirection::in,
        .buffer = small,
        .length = 4096,
        .pioData = PioData::readSector,
        .pioZeroWhenSkipped = true},
       "Command EC not sent: its 4096 bytes of data do not fit in a buffer of 512 bytes"},
  };
  for (const Case& c : cases) {
    FakeTransport g;
    g.state.DriveTarget.kind = c.kind;
    g.state.DriveTarget.ataPassHandle = g.io.Open(0x10);
    g.state.DriveTarget.scsiHandle = g.io.Open(0x20);
    EXPECT_FALSE(Dispatch(g.ctx, c.command)) << c.what;
    EXPECT_TRUE(g.state.AtaStatusBits.ERR) << c.what;
    EXPECT_EQ(g.host.log, std::vector<std::string>{c.line}) << c.what;
    EXPECT_TRUE(g.io.calls.empty()) << c.what;
    EXPECT_TRUE(g.ports.accesses.empty()) << c.what;
    EXPECT_EQ(g.host.pumps, 0) << c.what;
    EXPECT_EQ(small[0], 0x33) << c.what;
  }
}

TEST(OpenDrive, OpensSharedWithFullAccessAndGivesTheInvalidHandleOnFailure) {
  FakeTransport g;
  g.io.AddDrive("\\\\?\\disk#1", 0x123);
  EXPECT_EQ(OpenDrive(g.io, "\\\\?\\disk#1"), 0x123);
  EXPECT_EQ(OpenDrive(g.io, "\\\\?\\disk#2"), kInvalidHandle);
  ASSERT_EQ(g.io.opens.size(), 2u);
  const auto& o = g.io.opens[0];
  EXPECT_EQ(o.access, 0x10000000u);
  EXPECT_EQ(o.share, 3u);
  EXPECT_EQ(o.disposition, 3u);
  EXPECT_EQ(o.flags, 0x80u);
}

}  // namespace
}  // namespace brisquel
