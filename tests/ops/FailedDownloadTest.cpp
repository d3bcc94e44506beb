// Every way a download can go wrong on the bench, on the transports where the
// fault can happen: the outcome says how it ended, and its closing line never
// reads as success.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ops/Identify.h"
#include "ops/OpsBench.h"
#include "ops/StandardDownload.h"
#include "ops/VendorDownload.h"

namespace brisquel {
namespace {

using test::OpsBench;
using Result = DownloadOutcome::Result;

constexpr std::uint8_t kVendor = kVendorDownloadMode;
constexpr int kPio = 1, kAta = 2, kScsi = 4, kAll = kPio | kAta | kScsi;

struct FaultCase {
  const char* what;
  int transports;
  std::uint8_t mode;  // a DOWNLOAD MICROCODE mode, or kVendor
  std::function<void(OpsBench&)> fault;
  Result result;
  const char* whatSays;       // in the outcome's words
  std::uint32_t sent = 0;     // blocks or sectors the drive took (over PIO: that went out)
  std::uint32_t image = 130;  // blocks of the firmware file
};

// Once the download has sent `sent` blocks (sectors), `then` runs.
std::function<void(OpsBench&)> After(std::uint32_t sent, std::function<void(OpsBench&)> then) {
  return [=](OpsBench& b) {
    b.host.onProgress = [&b, sent, then](std::uint32_t n, std::uint32_t) {
      if (n == sent) then(b);
    };
  };
}

// Break at the tenth pump after the drive has seen the first command with this
// opcode; `also` runs when it is seen.
std::function<void(OpsBench&)> BreakAfter(std::uint8_t opcode,
                                          std::function<void(OpsBench&)> also) {
  return [=](OpsBench& b) {
    b.host.breakWhen = [&b, opcode, also, seen = -1]() mutable {
      if (seen < 0 && !b.Commands(opcode).empty()) {
        seen = b.host.pumps;
        also(b);
      }
      return seen >= 0 && b.host.pumps >= seen + 10;
    };
  };
}

void AbortSmartWriteLog(OpsBench& b) {
  b.drive.Faults().abortCommand = 0xB0;
  b.drive.Faults().abortFeatures = 0xD6;
}

void PressBreak(OpsBench& b) {
  b.state.BreakFlag = true;
}

const FaultCase kCases[] = {
    {"DLMC 01 aborted", kAll, 0x01, [](OpsBench& b) { b.drive.Faults().abortCommand = 0x92; },
     Result::refusedByDrive, "DOWNLOAD MICROCODE"},
    {"DLMC 03 aborted", kAll, 0x03, [](OpsBench& b) { b.drive.Faults().abortCommand = 0x92; },
     Result::refusedByDrive, "DOWNLOAD MICROCODE"},
    {"DLMC 07 aborted", kAll, 0x07, [](OpsBench& b) { b.drive.Faults().abortCommand = 0x92; },
     Result::refusedByDrive, "DOWNLOAD MICROCODE"},
    {"DLMC 0E aborted", kAll, 0x0E, [](OpsBench& b) { b.drive.Faults().abortCommand = 0x92; },
     Result::refusedByDrive, "DOWNLOAD MICROCODE"},
    // The second segment fails: the third is never sent, and the first does
    // not make the download a success.
    {"DLMC 03 middle segment aborted", kAll, 0x03,
     After(64, [](OpsBench& b) { b.drive.Faults().abortCommand = 0x92; }), Result::refusedByDrive,
     "DOWNLOAD MICROCODE", 64},
    {"DLMC 07 busy until Break", kPio, 0x07,
     BreakAfter(0x92, [](OpsBench& b) { b.drive.Faults().stayBusy = true; }),
     Result::stoppedByBreak, "stopped by Break", 1},
    {"DLMC 03 without DSC until Break", kPio, 0x03,
     BreakAfter(0x92, [](OpsBench& b) { b.drive.Faults().neverSetDsc = true; }),
     Result::stoppedByBreak, "stopped by Break", 1},
    {"DLMC 0E Break between segments", kAll, 0x0E, After(64, PressBreak), Result::stoppedByBreak,
     "stopped by Break", 64},
    // Break pressed after the checks and the vendor unlock, before the image:
    // nothing of it goes, whole or in segments.
    {"DLMC 07 Break before the image", kAll, 0x07, After(0, PressBreak), Result::stoppedByBreak,
     "stopped by Break", 0},
    {"DLMC 03 Break before the image", kAll, 0x03, After(0, PressBreak), Result::stoppedByBreak,
     "stopped by Break", 0},
    {"DLMC 07 no handle", kAta, 0x07,
     [](OpsBench& b) { b.state.DriveTarget.ataPassHandle = kInvalidHandle; },
     Result::refusedBySystem, "the system refused DOWNLOAD MICROCODE"},
    {"DLMC 07 empty file", kAll, 0x07, nullptr, Result::nothingToSend, "the file is empty", 0, 0},
    {"DPTM every SMART WRITE LOG aborted", kAll, kVendor, AbortSmartWriteLog,
     Result::refusedByDrive, "the download key sector"},
    // The second chunk is refused: the rest of the image is not sent.
    {"DPTM data chunk aborted", kAll, kVendor, After(64, AbortSmartWriteLog),
     Result::refusedByDrive, "SMART WRITE LOG", 64},
    {"DPTM drive asks for more than the file", kAll, kVendor,
     [](OpsBench& b) { b.drive.Faults().vendorRequestedSectors = 200; }, Result::stoppedEarly,
     "the drive asked for 200 sectors and the file holds 130", 130},
    {"DPTM vendor error code", kAll, kVendor,
     [](OpsBench& b) { b.drive.Faults().vendorPrimaryCode = 0xB002; }, Result::refusedByDrive,
     "the drive refused the download key sector"},
    {"DPTM Break between chunks", kAll, kVendor, After(64, PressBreak), Result::stoppedByBreak,
     "stopped by Break", 64},
    {"DPTM empty file", kAll, kVendor, nullptr, Result::nothingToSend, "the file is empty", 0, 0},
};

TEST(FailedDownloads, NoFailedStoppedOrEmptyDownloadReadsAsSuccess) {
  for (const FaultCase& c : kCases) {
    for (TransportKind kind :
         {TransportKind::pio, TransportKind::ataPassThrough, TransportKind::scsiPassThrough}) {
      const int bit = kind == TransportKind::pio              ? kPio
                      : kind == TransportKind::ataPassThrough ? kAta
                                                              : kScsi;
      if (!(c.transports & bit)) continue;
      SCOPED_TRACE(std::string(c.what) + " over " + test::TransportName(kind));
      OpsBench b(kind);
      const auto image =
          c.image ? sim::MakeBenchFirmware("NEWFW", c.image) : std::vector<std::uint8_t>{};
      b.host.dialogAnswers.push_back(b.File("fw.bin", image));
      if (c.fault) c.fault(b);
      // Whatever the checks refuse, the user sends anyway: still no failure
      // may read as success.
      b.questions.sendAnyway = true;

      const DownloadOutcome o =
          c.mode == kVendor ? b.Dptm() : b.Dlmc(c.mode);
      EXPECT_EQ(o.result, c.result) << ResultName(o.result) << ": " << o.what;
      EXPECT_NE(o.what.find(c.whatSays), std::string::npos) << o.what;
      EXPECT_EQ(o.sent, c.sent);
      EXPECT_TRUE(o.Failed());
      // Break's line, what the drive is left with, comes after the closing line.
      const bool broken = o.result == DownloadOutcome::Result::stoppedByBreak;
      ASSERT_GE(b.host.log.size(), broken ? 2u : 1u);
      if (broken) {
        EXPECT_EQ(b.host.log.back(), StoppedByBreakLine(o));
      }
      const std::string& closing = b.host.log.end()[broken ? -2 : -1];
      EXPECT_EQ(closing, ClosingLine(o));
      EXPECT_EQ(closing.find("SUCCESS"), std::string::npos) << closing;
      EXPECT_EQ(closing.find("End - OK"), std::string::npos) << closing;
      EXPECT_NE(closing.find(" - FAILED: "), std::string::npos) << closing;
      EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
    }
  }
}

// A command a drive aborts over PIO: the data phase never starts, so no image
// data goes into a drive that has stopped listening.
TEST(FailedDownloads, AnAbortedDownloadOverPioPushesNoImageData) {
  OpsBench b(TransportKind::pio);
  b.drive.Faults().abortCommand = 0x92;
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEWFW", 130)));
  b.Dlmc(0x07);
  const auto commands = b.Commands(0x92);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].dataWordsIn, 0u);
}

// Nothing answers on a channel with no drive (status FF): the operation ends
// at once and says so, instead of polling until Break.
TEST(FailedDownloads, AChannelWithNoDriveEndsAtOnceAndSaysSo) {
  const std::string noDrive =
      "PIO: no drive answers on the channel at 0170 (status FF: the bus floats)";
  {
    OpsBench b(TransportKind::pio);
    b.state.DriveTarget.basePort = 0x170;
    const IdentifyOutcome id = IdentifyButton(b.ctx);
    EXPECT_EQ(id.command.end, CommandEnd::noDevice);
    EXPECT_EQ(b.host.log, (std::vector<std::string>{noDrive, " FW: SN:", "",
                                                    "IDENTIFY DEVICE failed: no drive answers"}));
  }
  {
    OpsBench b(TransportKind::pio);
    b.state.DriveTarget.basePort = 0x170;
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEWFW", 2)));
    const DownloadOutcome o = b.Dlmc(0x07);
    EXPECT_EQ(o.result, Result::noDrive);
    EXPECT_EQ(b.host.log, std::vector<std::string>{noDrive});
    EXPECT_EQ(b.host.dialogs, 0) << "no file is asked for when no drive answers";
    EXPECT_LT(b.host.pumps, 5);
  }
}

}  // namespace
}  // namespace brisquel
