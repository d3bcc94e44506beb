// What real stacks do and a kind bench would not: a drive that reports a
// device fault, a bridge that moves less than it was given, an absent device 1
// that device 0 answers for, a drive that never leaves BSY, Break in the
// vendor preamble and in the wait for the revision. Each case is one the
// program once read as success or waited on for ever.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ops/OpsBench.h"
#include "ops/VendorChannel.h"
#include "sim/BenchFirmware.h"
#include "transport/AtaCommands.h"
#include "transport/AtaProtocol.h"

namespace brisquel::test {
namespace {

using Result = DownloadOutcome::Result;

bool Logged(const OpsBench& b, const std::string& part) {
  for (const auto& line : b.host.log) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string Log(const OpsBench& b) {
  std::string text;
  for (const auto& line : b.host.log) text += line + "\n";
  return text;
}

// Mode 07 of a 10-block image, as the DLMC button sends it.
DownloadOutcome Download(OpsBench& b) {
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
  return b.Dlmc(kDlmcPermanent);
}

TEST(FieldRules, ADownloadThatTheFieldEndsIsNeverASuccess) {
  struct Case {
    const char* what;
    TransportKind kind;
    std::function<void(OpsBench&)> setUp;
    Result result;
    const char* words;  // in the outcome's `what`
  };
  const auto deviceFault = [](OpsBench& b) {
    b.drive.Faults().deviceFaultCommand = kAtaDownloadMicrocode;
  };
  const auto shortBridge = [](OpsBench& b) {
    sim::BridgeBehaviour bridge;
    bridge.dataOutShortBy = 512;
    b.bench.Bridge("enclosure")->Replace(bridge);
  };
  const Case cases[] = {
      {"DF with ERR clear, PIO", TransportKind::pio, deviceFault, Result::refusedByDrive,
       "the drive reported a device fault (status 70h)"},
      {"DF with ERR clear, ATA pass-through", TransportKind::ataPassThrough, deviceFault,
       Result::refusedByDrive, "the drive reported a device fault (status 70h)"},
      {"DF with ERR clear, SCSI pass-through", TransportKind::scsiPassThrough, deviceFault,
       Result::refusedByDrive, "the drive reported a device fault (status 70h)"},
      {"a bridge that moves 512 bytes less and says GOOD", TransportKind::scsiPassThrough,
       shortBridge, Result::refusedBySystem, "the system moved 4608 of 5120 bytes"},
      {"flash longer than the command's time limit, PIO", TransportKind::pio,
       [](OpsBench& b) { b.drive.Faults().flashSeconds = 200; }, Result::timedOut,
       "the command's time limit expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(c.kind);
    c.setUp(b);
    // A wait with no limit would spin here for ever; the bench's clock never stops.
    b.host.breakWhen = [&] { return b.host.pumps > 2'000'000; };
    const DownloadOutcome outcome = Download(b);
    EXPECT_FALSE(b.state.BreakFlag);
    EXPECT_EQ(outcome.result, c.result) << outcome.what;
    EXPECT_NE(outcome.what.find(c.words), std::string::npos) << outcome.what;
    EXPECT_TRUE(Logged(b, "FAILED: " + std::string(c.words))) << Log(b);
  }
}

// The PIO waits: an absent device 1 behind device 0 reads 00h and is told
// apart from a slow drive within 50 ms; a drive that stays busy meets the
// command's time limit (IDENTIFY's allows for a drive just powered on). Both
// on the bench's clock: nothing waits for real.
TEST(FieldRules, APioWaitEndsWhereNothingWillAnswer) {
  struct Case {
    const char* what;
    bool device1;
    bool stayBusy;
    CommandEnd end;
    const char* line;
    std::uint64_t atMostMs;  // of the bench's clock
  };
  const Case cases[] = {
      {"absent device 1", true, false, CommandEnd::noDevice,
       "PIO: no drive answers at device 1 on the channel at 01F0 (status 00h)", 100},
      {"device 0 stays busy", false, true, CommandEnd::timedOut,
       "PIO: the command's time limit (31 s) expired at device 0 on the channel at 01F0 "
       "(status 80h)",
       31'100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(TransportKind::pio);
    b.state.DriveTarget.slave = c.device1;
    b.drive.Faults().stayBusy = c.stayBusy;
    b.host.breakWhen = [&] { return b.host.pumps > 2'000'000; };
    const std::uint64_t start = b.bench.Ports().WaitClockMs();
    const IdentifyOutcome identity = ReadIdentity(b.ctx.transport);
    EXPECT_FALSE(b.state.BreakFlag);
    EXPECT_EQ(identity.command.end, c.end);
    EXPECT_TRUE(Logged(b, c.line)) << Log(b);
    EXPECT_LE(b.bench.Ports().WaitClockMs() - start, c.atMostMs);
    // Device 0 never took device 1's command.
    if (c.device1) {
      EXPECT_TRUE(b.drive.History().empty());
    }
  }
}

// A drive that answers is never held up by the 00h rule, and a device 1 that
// is there answers as before.
TEST(FieldRules, ADevice1ThatIsThereStillAnswers) {
  sim::BenchDescription d;
  d.drives.push_back({"one", {}, {}});
  sim::BenchChannel channel;
  channel.basePort = 0x1F0;
  channel.device[1] = "one";
  d.channels.push_back(channel);
  sim::Bench bench(d);
  TransportState state;
  state.DriveTarget.basePort = 0x1F0;
  state.DriveTarget.slave = true;
  FakeOperationHost host{state.BreakFlag};
  TransportContext t{state, bench.Ports(), bench.Io(), host};
  EXPECT_TRUE(ReadIdentity(t).Answered());
}

// The vendor download goes no further than its preamble when that ended the
// operation: Break in the preamble's key sector sends neither the enable nor
// the download key sector again.
TEST(FieldRules, DptmStopsWhereItsPreambleEndedTheOperation) {
  OpsBench b(TransportKind::ataPassThrough);
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
  b.host.breakWhen = [&] { return !b.Commands(kAtaSmart, kSmartWriteLog).empty(); };
  UpdateRequest request;
  request.kind = UpdateRequest::Kind::vendor;
  const UpdateReport report = b.Update(request);
  EXPECT_EQ(report.download.result, Result::stoppedByBreak);
  EXPECT_EQ(b.Commands(kAtaVendorCommand).size(), 1u);
  EXPECT_EQ(b.Commands(kAtaSmart, kSmartWriteLog).size(), 1u);  // the preamble's key sector
  EXPECT_FALSE(Logged(b, "Begin")) << Log(b);
  EXPECT_TRUE(Logged(b, "Download Microcode (DPTM) - fw.bin - FAILED: stopped by Break")) << Log(b);
}

// Break that ends the wait for the revision is said as Break, not as a drive
// that did not answer in time.
TEST(FieldRules, TheRevisionLineAfterBreakSaysBreak) {
  OpsBench b(TransportKind::ataPassThrough);
  b.host.onProgress = [&](std::uint32_t sent, std::uint32_t toSend) {
    if (sent == toSend && toSend != 0) {
      b.drive.Faults().abortCommand = kAtaIdentifyDevice;
      b.host.breakWhen = [] { return true; };
    }
  };
  const UpdateReport report = [&] {
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
    UpdateRequest request;
    request.mode = kDlmcPermanent;
    return b.Update(request);
  }();
  ASSERT_TRUE(report.download.Completed()) << report.download.what;
  EXPECT_EQ(RevisionLine(report),
            "Firmware revision BF1.00 -> not read: Break stopped the wait for IDENTIFY");
}

TEST(FieldRules, AResultNobodySetIsNoSuccess) {
  EXPECT_FALSE(CommandResult{}.ok());
  EXPECT_FALSE(CommandResult{}.EndsTheOperation());
}

}  // namespace
}  // namespace brisquel::test
