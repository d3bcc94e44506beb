#include <gtest/gtest.h>

#include <tuple>

#include "ops/Identify.h"
#include "ops/OpsBench.h"
#include "ops/StandardDownload.h"
#include "ops/VendorDownload.h"

namespace brisquel {
namespace {

using test::FirmwareCutAt;
using test::OpsBench;

constexpr std::uint8_t kTemporary = 0x01, kSegmented = 0x03, kPermanent = 0x07, kDeferred = 0x0E,
                       kActivate = 0x0F;

struct Segment {
  int count, lbaLow, lbaMid, lbaHigh;
  bool operator==(const Segment&) const = default;
};

std::vector<Segment> Downloads(const OpsBench& b) {
  std::vector<Segment> found;
  for (const auto& c : b.Commands(0x92)) found.push_back({c.count, c.lbaLow, c.lbaMid, c.lbaHigh});
  return found;
}

class StandardDownloadOnBench : public ::testing::TestWithParam<TransportKind> {};

TEST_P(StandardDownloadOnBench, EachModeSendsItsCommandsAndTheDriveTakesTheImage) {
  struct Case {
    const char* what;
    std::uint8_t index;
    std::vector<std::uint8_t> file;
    std::vector<Segment> commands;
    const char* active;     // revision Identify reports afterwards
    const char* permanent;  // after a power cycle
    const char* deferred;   // waiting for activation, or ""
  };
  // 129 blocks, the last holding one byte of the file: its 511 padding bytes
  // must arrive as zeros, not as the previous segment's data.
  const auto segmented = FirmwareCutAt("SEG03", 129, 64 * 512 * 2 + 1);
  const Case cases[] = {
      {"segmented",
       kSegmented,
       segmented,
       {{64, 0, 0, 0}, {64, 0, 64, 0}, {1, 0, 128, 0}},
       "SEG03",
       "SEG03",
       ""},
      {"deferred",
       kDeferred,
       FirmwareCutAt("DEF0E", 65, 64 * 512 + 7),
       {{64, 0, 0, 0}, {1, 0, 64, 0}},
       "BF1.00",
       "BF1.00",
       "DEF0E"},
      // 1,000 bytes: two blocks in one command, the second padded with zeros.
      {"permanent",
       kPermanent,
       FirmwareCutAt("PERM07", 2, 1000),
       {{2, 0, 0, 0}},
       "PERM07",
       "PERM07",
       ""},
      {"temporary",
       kTemporary,
       sim::MakeBenchFirmware("TEMP01", 255),
       {{255, 0, 0, 0}},
       "TEMP01",
       "BF1.00",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(GetParam());
    b.host.dialogAnswers.push_back(b.File("fw.bin", c.file));
    b.Dlmc(c.index);

    const std::string mode = c.index == kTemporary   ? "01"
                             : c.index == kSegmented ? "03"
                             : c.index == kPermanent ? "07"
                                                     : "0E";
    const std::string prefix = "Download Microcode " + mode + " - fw.bin - ";
    EXPECT_EQ(b.host.log, (std::vector<std::string>{prefix + "Start", prefix + "End - OK"}));
    EXPECT_EQ(b.host.dialogs, 1);
    EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
    EXPECT_EQ(Downloads(b), c.commands);
    for (const auto& cmd : b.Commands(0x92)) {
      EXPECT_EQ(cmd.features, std::stoi(mode, nullptr, 16));
      EXPECT_EQ(cmd.device, 0xA0);
      EXPECT_EQ(cmd.dataWordsIn, cmd.count * 256u);
    }
    EXPECT_EQ(b.drive.FirmwareRevision(), c.active);
    EXPECT_EQ(b.drive.PermanentRevision(), c.permanent);
    EXPECT_EQ(b.drive.DeferredRevision().value_or(""), c.deferred);
  }
}

TEST_P(StandardDownloadOnBench, PaddingGoesOutAsZerosWhateverTheBufferHeld) {
  for (const std::uint8_t mode : {kSegmented, kPermanent}) {
    OpsBench b(GetParam());
    std::fill(b.state.TransferBuffer.begin(), b.state.TransferBuffer.end(), 0xEE);
    b.host.dialogAnswers.push_back(b.File("fw.bin", FirmwareCutAt("PAD", 2, 1000)));
    EXPECT_TRUE(b.Dlmc(mode).Completed()) << int(mode);
    EXPECT_EQ(b.drive.FirmwareRevision(), "PAD") << int(mode);
  }
}

TEST_P(StandardDownloadOnBench, APermanentDownloadChangesTheRevisionIdentifyReports) {
  OpsBench b(GetParam(), {"WDC WD800BB-00SIMA0", "05.01C05", "WD-WMSIM0000001"});
  b.host.dialogAnswers.push_back(b.File("new.bin", sim::MakeBenchFirmware("05.02C07", 40)));
  b.Dlmc(kPermanent);
  IdentifyButton(b.ctx);
  EXPECT_EQ(b.host.log.at(2), "WDC WD800BB-00SIMA0 FW:05.02C07 SN:WD-WMSIM0000001");
}

TEST_P(StandardDownloadOnBench, ActivationWritesNoLogLineWhateverTheDriveAnswers) {
  OpsBench b(GetParam());
  b.Dlmc(kActivate);  // nothing deferred: the drive refuses
  EXPECT_EQ(b.Commands(0x92, 0x0F).size(), 1u);
  EXPECT_TRUE(b.host.log.empty());

  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEXT", 3)));
  b.Dlmc(kDeferred);
  b.host.log.clear();
  b.Dlmc(kActivate);
  EXPECT_TRUE(b.host.log.empty());
  EXPECT_EQ(b.drive.FirmwareRevision(), "NEXT");
  EXPECT_EQ(b.host.dialogs, 1);  // activation shows no dialog
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true, false, true, false, true}));
}

// IDENTIFY, then enable, key sector, status read: on every click to a drive
// of the vendor channel's maker, whatever follows.
TEST_P(StandardDownloadOnBench, ThePreambleGoesOutOnEveryClick) {
  struct Case {
    const char* what;
    std::optional<std::uint8_t> mode;
    bool enableRejected;
  };
  for (const Case& c :
       {Case{"cancelled dialog", kPermanent, false}, Case{"activation", kActivate, false},
        Case{"no mode", std::nullopt, false}, Case{"enable rejected", std::nullopt, true}}) {
    SCOPED_TRACE(c.what);
    OpsBench b(GetParam());
    if (c.enableRejected) b.drive.Faults().abortCommand = 0x80;
    b.Dlmc(c.mode);
    const auto& all = b.drive.History();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].command, 0xEC);  // what the checks read
    const std::vector<sim::AtaDrive::CommandRecord> h(all.begin() + 1, all.end());
    const std::size_t preamble = c.enableRejected ? 4 : 3;
    ASSERT_GE(h.size(), preamble);
    EXPECT_EQ(h[0].command, 0x80);
    EXPECT_EQ(h[0].features, 0x3B);
    EXPECT_EQ(h[0].lbaMid, 0x6E);
    EXPECT_EQ(h[0].lbaHigh, 0x29);
    std::size_t i = 1;
    if (c.enableRejected) {  // the SMART READ LOG 0xBB form, non-data
      EXPECT_EQ(std::tie(h[1].command, h[1].features, h[1].count, h[1].lbaLow),
                std::make_tuple(std::uint8_t{0xB0}, std::uint8_t{0xD5}, std::uint8_t{0},
                                std::uint8_t{0xBB}));
      i = 2;
    }
    EXPECT_EQ(
        std::tie(h[i].command, h[i].features, h[i].count, h[i].lbaLow, h[i].lbaMid, h[i].lbaHigh),
        std::make_tuple(std::uint8_t{0xB0}, std::uint8_t{0xD6}, std::uint8_t{1}, std::uint8_t{0xBE},
                        std::uint8_t{0x4F}, std::uint8_t{0xC2}));
    EXPECT_EQ(h[i].dataWordsIn, 256u);
    EXPECT_EQ(std::tie(h[i + 1].command, h[i + 1].features, h[i + 1].count, h[i + 1].lbaLow),
              std::make_tuple(std::uint8_t{0xB0}, std::uint8_t{0xD5}, std::uint8_t{1},
                              std::uint8_t{0xBE}));
    EXPECT_EQ(b.Commands(0x92).size(), c.mode == kActivate ? 1u : 0u);
    EXPECT_TRUE(b.host.log.empty());
    EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
  }
}

TEST_P(StandardDownloadOnBench, AFailureEndsTheLineWithTheDrivesStatusNames) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    bool abort;
    std::string text;
  };
  auto corrupt = sim::MakeBenchFirmware("BAD", 4);
  corrupt[700] ^= 0xFF;
  const Case cases[] = {
      {"not firmware", std::vector<std::uint8_t>(2048, 0x11), false,
       "FAILED: the drive aborted DOWNLOAD MICROCODE (0 of 4 blocks sent; vendor status: "
       "DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - FM_ERR_NOT_FLASH_FILE)"},
      {"bad checksum", corrupt, false,
       "FAILED: the drive aborted DOWNLOAD MICROCODE (0 of 4 blocks sent; vendor status: "
       "DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - FM_ERR_CHECKSUM)"},
      // The drive aborts and its status sector carries all three codes.
      {"all three codes", sim::MakeBenchFirmware("X", 2), true,
       "FAILED: the drive aborted DOWNLOAD MICROCODE (0 of 2 blocks sent; vendor status: "
       "VSC_ERR_XFER_REQ_EXCEED_AVAILABLE_DATA - FM_ERR_CHECKSUM - HOST_ABORTED_CMD)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(GetParam());
    if (c.abort) {
      b.drive.Faults().abortCommand = 0x92;
      b.drive.Faults().vendorPrimaryCode = 0xB018;
      b.drive.Faults().vendorSecondCode = 0x3703;
      b.drive.Faults().vendorThirdCode = 0x4612;
    }
    b.host.dialogAnswers.push_back(b.File("fw.bin", c.file));
    b.Dlmc(kPermanent);
    EXPECT_EQ(b.host.log, (std::vector<std::string>{"Download Microcode 07 - fw.bin - Start",
                                                    "Download Microcode 07 - fw.bin - " + c.text}));
    EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
  }
}

// A drive that takes longer to flash than the pass-through's 120 s ends the
// download at the command the system gave up on: the closing line says so and
// nothing more goes to the drive (no status read). Over PIO the wait for the
// drive has the same limit. 30 s of flashing is within it.
TEST_P(StandardDownloadOnBench, AFlashLongerThanTheTimeLimitEndsTheDownload) {
  const bool pio = GetParam() == TransportKind::pio;
  const bool ata = GetParam() == TransportKind::ataPassThrough;
  const std::string expired = "the command's time limit expired";
  const std::vector<std::string> ioctl = {
      "IOCTL_ATA_PASS_THROUGH The semaphore timeout period has expired"};
  const std::vector<std::string> pioLine = {
      "PIO: the command's time limit (120 s) expired at device 0 on the channel at 01F0 (status "
      "80h)"};
  auto lines = [&](const std::string& prefix, const std::string& start, const std::string& end) {
    std::vector<std::string> log = {prefix + start};
    if (ata) log.insert(log.end(), ioctl.begin(), ioctl.end());
    if (pio) log.insert(log.end(), pioLine.begin(), pioLine.end());
    log.push_back(prefix + end);
    return log;
  };
  for (std::uint32_t seconds : {30u, 121u}) {
    SCOPED_TRACE(seconds);
    const bool expires = seconds > 120;
    {
      OpsBench b(GetParam());
      b.drive.Faults().flashSeconds = seconds;
      b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("SLOW", 150)));
      const DownloadOutcome o = b.Dlmc(kSegmented);
      const std::string prefix = "Download Microcode 03 - fw.bin - ";
      if (expires) {
        EXPECT_EQ(o.result, DownloadOutcome::Result::timedOut);
        // Over PIO the last segment's sectors went out; the drive did not end it.
        EXPECT_EQ(b.host.log, lines(prefix, "Start",
                                    "FAILED: " + expired +
                                        (pio ? " (150 of 150 blocks sent)" : " (128 of 150 blocks sent)")));
        EXPECT_EQ(b.drive.History().back().command, 0x92);
        EXPECT_EQ(b.Commands(0x92).size(), 3u);
      } else {
        EXPECT_EQ(b.host.log, (std::vector<std::string>{prefix + "Start", prefix + "End - OK"}));
        EXPECT_EQ(b.drive.FirmwareRevision(), "SLOW");
      }
    }
    {
      OpsBench b(GetParam());
      b.drive.Faults().flashSeconds = seconds;
      b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("SLOWWD", 70)));
      const DownloadOutcome o = b.Dptm();
      const std::string prefix = "Download Microcode (DPTM) - fw.bin - ";
      if (expires) {
        EXPECT_EQ(o.result, DownloadOutcome::Result::timedOut);
        EXPECT_EQ(b.host.log, lines(prefix, "Begin",
                                    "FAILED: " + expired +
                                        (pio ? " (70 of 70 sectors sent)" : " (64 of 70 sectors sent)")));
        EXPECT_EQ(b.drive.History().back().lbaLow, 0xBF) << "the last data write, nothing after";
      } else {
        EXPECT_EQ(b.host.log, (std::vector<std::string>{prefix + "Begin", prefix + "SUCCESS "}));
      }
    }
  }
}

// Break stops the loop before the next segment; the download counts as failed.
// Break can only arrive while a transport pumps messages, which every one does
// at least once per command.
class StandardDownloadBreak : public ::testing::TestWithParam<TransportKind> {};

TEST_P(StandardDownloadBreak, BreakStopsTheSegmentLoop) {
  OpsBench b(GetParam());
  b.host.breakWhen = [&b] { return !b.Commands(0x92).empty(); };
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("SEG", 200)));
  b.Dlmc(kSegmented);
  EXPECT_EQ(b.Commands(0x92).size(), 1u);
  ASSERT_EQ(b.host.log.size(), 3u);
  EXPECT_EQ(b.host.log[0], "Download Microcode 03 - fw.bin - Start");
  EXPECT_EQ(b.host.log[1].rfind("Download Microcode 03 - fw.bin - ", 0), 0u);
  EXPECT_NE(b.host.log[1], "Download Microcode 03 - fw.bin - End - OK");
  EXPECT_EQ(b.host.log[2].rfind("Stopped by Break after ", 0), 0u) << b.host.log[2];
  EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
}

// Break counts what the drive took: a command that completed before Break was
// seen counts whole (a whole image that completed is a completed download),
// and over PIO a data phase cut short counts the sectors that went out. The
// bench's pass-through requests run inline, so there Break lands after them.
TEST_P(StandardDownloadBreak, BreakCountsWhatTheDriveTook) {
  const bool pio = GetParam() == TransportKind::pio;
  struct Case {
    const char* what;
    std::uint8_t mode;
    std::uint32_t blocks;
    std::uint32_t breakAfterSectors;  // of the first DOWNLOAD MICROCODE command
    std::string end;                  // the closing line after the prefix
    std::string then = {};            // the line after it: what Break left
  };
  const std::string kept =
      " blocks: the drive keeps its current firmware; start the download again from the beginning";
  const Case cases[] = {
      {"after a segment", kSegmented, 200, 64, "FAILED: stopped by Break (64 of 200 blocks sent)",
       "Stopped by Break after 64 of 200" + kept},
      {"inside a segment", kSegmented, 200, 10,
       pio ? "FAILED: stopped by Break (10 of 200 blocks sent)"
           : "FAILED: stopped by Break (64 of 200 blocks sent)",
       "Stopped by Break after " + std::string(pio ? "10" : "64") + " of 200" + kept},
      {"inside a whole image", kPermanent, 20, 5,
       pio ? "FAILED: stopped by Break (5 of 20 blocks sent)" : "End - OK",
       pio ? "Stopped by Break after 5 of 20" + kept : ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(GetParam());
    b.host.breakWhen = [&] {
      const auto dlmc = b.Commands(0x92);
      return !dlmc.empty() && dlmc.front().dataWordsIn >= c.breakAfterSectors * 256;
    };
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("BRK", c.blocks)));
    b.Dlmc(c.mode);
    const std::string prefix = "Download Microcode 0" + std::to_string(c.mode) + " - fw.bin - ";
    std::vector<std::string> log{prefix + "Start", prefix + c.end};
    if (!c.then.empty()) log.push_back(c.then);
    EXPECT_EQ(b.host.log, log);
    EXPECT_EQ(b.Commands(0x92).size(), 1u);
  }
}

// What the drive cannot be sent is refused with one line before anything of it goes out.
TEST_P(StandardDownloadOnBench, RefusesWhatCannotBeSentAndSendsNothingOfIt) {
  OpsBench b(GetParam());
  const std::string missing = b.Missing("gone.bin");
  b.host.dialogAnswers.push_back(missing);
  b.Dlmc(kPermanent);
  b.host.dialogAnswers.push_back(b.File("big.bin", std::vector<std::uint8_t>(16'777'217, 0x5A)));
  b.Dlmc(kSegmented);
  EXPECT_EQ(b.host.log,
            (std::vector<std::string>{
                "Download Microcode 07 - gone.bin - Cannot read the file " + missing +
                    ": No such file or directory",
                "Download Microcode 03 - big.bin - Refused: the file has 16777217 bytes, more "
                "than the 16777216 bytes a download can carry"}));
  EXPECT_TRUE(b.Commands(0x92).empty());
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true, false, true}));
}

// SAT sizes the transfer from the 8-bit count register alone: a whole image of
// more than 255 blocks would go out cut short. The segmented modes carry it.
// Above 255 blocks SAT's count cannot carry a whole image; a bridge that takes
// the length from the transfer (T_LENGTH 3, asked once with IDENTIFY) does.
// Segments carry it anywhere. (A bridge that refuses T_LENGTH 3: UsbBridgeRegisters.)
TEST(StandardDownloadOverScsi, AWholeImageAbove255BlocksGoesWithTheTransfersLength) {
  OpsBench b(TransportKind::scsiPassThrough);
  const auto image = sim::MakeBenchFirmware("BIG256", 256);
  b.host.dialogAnswers.push_back(b.File("fw.bin", image));
  b.Dlmc(kPermanent);
  EXPECT_EQ(b.host.log.back(), "Download Microcode 07 - fw.bin - End - OK");
  ASSERT_EQ(b.Commands(0x92).size(), 1u);
  EXPECT_EQ(b.Commands(0x92)[0].dataWordsIn, 256u * 256u);
  EXPECT_EQ(b.state.DriveTarget.takesTransferLength, std::optional<bool>(true));
  EXPECT_EQ(b.drive.FirmwareRevision(), "BIG256");

  b.host.log.clear();
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("SEG256", 256)));
  b.Dlmc(kSegmented);
  EXPECT_EQ(b.host.log.back(), "Download Microcode 03 - fw.bin - End - OK");
  EXPECT_EQ(b.Commands(0x92).size(), 5u);
  EXPECT_EQ(b.drive.FirmwareRevision(), "SEG256");
}

// Nothing to send is refused with one line, whatever the mode; no command goes out.
TEST_P(StandardDownloadOnBench, AnEmptyFileIsRefusedBeforeAnyDownloadCommand) {
  OpsBench b(GetParam());
  for (std::uint8_t mode : {kTemporary, kSegmented, kPermanent, kDeferred}) {
    b.host.dialogAnswers.push_back(b.File("empty.bin", {}));
    const DownloadOutcome outcome = b.Dlmc(mode);
    EXPECT_EQ(outcome.result, DownloadOutcome::Result::nothingToSend);
  }
  EXPECT_TRUE(b.Commands(0x92).empty());
  EXPECT_EQ(
      b.host.log,
      (std::vector<std::string>{
          "Download Microcode 01 - empty.bin - FAILED: the file is empty (0 of 0 blocks sent)",
          "Download Microcode 03 - empty.bin - FAILED: the file is empty (0 of 0 blocks sent)",
          "Download Microcode 07 - empty.bin - FAILED: the file is empty (0 of 0 blocks sent)",
          "Download Microcode 0E - empty.bin - FAILED: the file is empty (0 of 0 blocks sent)"}));
}

TEST_P(StandardDownloadOnBench, ButtonsComeBackWhenTheClickEndsInAnException) {
  OpsBench b(GetParam());
  b.host.dialogThrows = true;
  EXPECT_THROW(b.Dlmc(kPermanent), std::runtime_error);
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
}

INSTANTIATE_TEST_SUITE_P(Transports, StandardDownloadBreak, test::kAllTransports,
                         test::TransportParamName());
INSTANTIATE_TEST_SUITE_P(Transports, StandardDownloadOnBench, test::kAllTransports,
                         test::TransportParamName());

}  // namespace
}  // namespace brisquel
