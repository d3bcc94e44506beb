// The update procedure on the fault bench: what the checks refuse before
// anything is sent, what the view's answers change, the vendor unlock by
// maker, the count register's last word and the revision read back.
#include <gtest/gtest.h>

#include <array>

#include "ops/OpsBench.h"
#include "ops/UpdateProcedure.h"
#include "sim/AtaDrive.h"
#include "transport/Bytes.h"

namespace brisquel::test {
namespace {

using Result = DownloadOutcome::Result;
using Data = sim::DriveFaults::IdentifyData;

constexpr std::uint8_t kTemporary = 0x01, kSegmented = 0x03, kPermanent = 0x07,
                       kDeferred = 0x0E, kActivate = 0x0F;

// The IDENTIFY that the checks read, and nothing after it.
bool OnlyIdentifySent(const OpsBench& b) {
  const auto& h = b.drive.History();
  return h.size() == 1 && h[0].command == 0xEC;
}

TEST(UpdateProcedure, ChecksThatNeedOnlyTheDriveRefuseBeforeAnythingIsSent) {
  struct Case {
    const char* what;
    std::function<void(OpsBench&)> setUp;
    std::optional<std::uint8_t> mode;  // none: the vendor download
    const char* refusal;               // empty: the download goes through
  };
  const Case cases[] = {
      {"no DOWNLOAD MICROCODE", nullptr, kPermanent,
       "the drive says it does not support DOWNLOAD MICROCODE"},
      {"no offsets, mode 03", nullptr, kSegmented, "does not support DOWNLOAD MICROCODE with offsets"},
      {"disk in use, mode 07", [](OpsBench& b) { b.bench.Disks().Disks()[0].inUse = "/ is mounted"; },
       kPermanent, "sim:sata is in use (/ is mounted): a drive that resets"},
      {"disk in use, vendor download",
       [](OpsBench& b) { b.bench.Disks().Disks()[0].inUse = "/ is mounted"; }, std::nullopt,
       "sim:sata is in use (/ is mounted)"},
      {"disk in use, mode 01 switches at once too",
       [](OpsBench& b) { b.bench.Disks().Disks()[0].inUse = "/ is mounted"; }, kTemporary,
       "sim:sata is in use (/ is mounted)"},
      {"disk in use on another disk",
       [](OpsBench& b) { b.bench.Disks().Disks()[1].inUse = "/ is mounted"; },
       kPermanent, ""},
      {"IDENTIFY aborted", [](OpsBench& b) { b.drive.Faults().abortCommand = 0xEC; }, kPermanent,
       "the drive's IDENTIFY data cannot be read"},
      {"IDENTIFY all zeros", [](OpsBench& b) { b.drive.Faults().identifyData = Data::zeros; },
       kPermanent, "IDENTIFY data not valid: all zeros, so what the drive supports is unknown"},
      {"IDENTIFY all ones", [](OpsBench& b) { b.drive.Faults().identifyData = Data::ones; },
       std::nullopt, "IDENTIFY data not valid: all ones"},
      {"IDENTIFY names all blank",
       [](OpsBench& b) { b.drive.Faults().identifyData = Data::blankNames; }, kPermanent,
       "IDENTIFY data not valid: model, serial number and revision all blank, so what the "
       "drive supports is unknown"},
      {"IDENTIFY checksum wrong",
       [](OpsBench& b) { b.drive.Faults().identifyData = Data::badChecksum; }, kDeferred,
       "IDENTIFY checksum wrong"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DriveIdentity id;
    id.dlmcSupported = std::string(c.what) != "no DOWNLOAD MICROCODE";
    id.offsetsSupported = std::string(c.what) != "no offsets, mode 03";
    OpsBench b(TransportKind::ataPassThrough, id);
    if (c.setUp) c.setUp(b);
    const auto image = sim::MakeBenchFirmware("NEW", 10);
    b.host.dialogAnswers.push_back(b.File("fw.bin", image));
    UpdateRequest request;
    request.kind = c.mode ? UpdateRequest::Kind::dlmc : UpdateRequest::Kind::vendor;
    request.mode = c.mode;
    const UpdateReport report = b.Update(request);
    if (*c.refusal == '\0') {
      EXPECT_TRUE(b.questions.asked.empty());
      EXPECT_TRUE(report.download.Completed()) << report.download.what;
      continue;
    }
    ASSERT_EQ(b.questions.asked.size(), 1u);
    EXPECT_NE(b.questions.asked[0].find(c.refusal), std::string::npos) << b.questions.asked[0];
    EXPECT_EQ(report.download.result, Result::refused);
    EXPECT_TRUE(report.Declined());
    EXPECT_EQ(b.questions.goAheads, 0);
    EXPECT_EQ(b.host.dialogs, 0);  // no file dialog after a refusal
    EXPECT_TRUE(OnlyIdentifySent(b));
    EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
  }
}

// The disk the running system is on: a mode that switches firmware at once is
// refused even when the checks' refusals were overridden, unless the second,
// separate question is answered too; the refusal names that system's safe way.
// Without the rights nothing goes through: that is said, and not hidden behind
// the disk users' refusal, which --force would only answer with the same stop.
TEST(UpdateProcedure, AccessDeniedStopsAtIdentifyBeforeTheDiskUsers) {
  OpsBench b(TransportKind::ataPassThrough);
  sim::BridgeBehaviour denying;
  denying.ataIoctlError = 5;  // ERROR_ACCESS_DENIED
  b.bench.Bridge("enclosure")->Replace(denying);
  b.bench.Disks().Disks()[1].inUse = "/ is mounted";
  b.state.DriveTarget.ataPassHandle =
      b.bench.Io().CreateFileA("sim:usb", GENERIC_ALL_, FILE_SHARE_READ_ | FILE_SHARE_WRITE_,
                               OPEN_EXISTING_, FILE_ATTRIBUTE_NORMAL_);
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
  UpdateRequest request;
  request.mode = kPermanent;
  request.devicePath = "sim:usb";
  const UpdateReport report = b.Update(request);
  EXPECT_EQ(report.download.result, Result::refusedBySystem);
  EXPECT_EQ(report.stage, UpdateReport::Stage::identify);
  EXPECT_NE(report.download.what.find("denied"), std::string::npos) << report.download.what;
  EXPECT_TRUE(b.questions.asked.empty()) << b.questions.asked[0];
  EXPECT_TRUE(b.drive.History().empty());
}

TEST(UpdateProcedure, TheSystemDiskTakesNoModeThatSwitchesAtOnceWithoutItsOwnYes) {
  struct Case {
    std::optional<std::uint8_t> mode;  // none: the vendor download
    RunningSystem system;
    bool secondYes;
    const char* asked;  // empty: no second question
  };
  const Case cases[] = {
      {kTemporary, RunningSystem::linuxRoot, false, "mode 01 switches the drive to new firmware at once"},
      {kSegmented, RunningSystem::linuxRoot, false, "The safe way: 0E then a power cycle"},
      {kPermanent, RunningSystem::windows, false,
       "The safe ways: 0E then 0F through Windows' firmware interface, which tells the storage "
       "stack, or 0E then a shutdown and a fresh start (a power cycle)"},
      {kActivate, RunningSystem::windows, false, "sim:sata holds the running system, and mode 0F"},
      {kPermanent, RunningSystem::linuxRoot, true, "mode 07"},
      {kDeferred, RunningSystem::windows, false, ""},
      {std::nullopt, RunningSystem::windows, false, ""},
      {kPermanent, RunningSystem::none, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode.value_or(0)) + " " + std::to_string(int(c.system)) +
                 (c.secondYes ? " yes" : " no"));
    sim::DriveIdentity id;
    id.offsetsSupported = true;
    OpsBench b(TransportKind::ataPassThrough, id);
    b.bench.Disks().Disks()[0].inUse = "/ is mounted from sda1";
    b.bench.Disks().Disks()[0].system = c.system;
    b.questions.sendAnyway = true;
    b.questions.sendToSystemDisk = c.secondYes;
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
    UpdateRequest request;
    request.kind = c.mode ? UpdateRequest::Kind::dlmc : UpdateRequest::Kind::vendor;
    request.mode = c.mode;
    const UpdateReport report = b.Update(request);
    // The general question came first, and said the disk is in use.
    ASSERT_EQ(b.questions.asked.size(), 1u);
    EXPECT_NE(b.questions.asked[0].find("is in use"), std::string::npos);
    if (*c.asked == '\0') {
      EXPECT_TRUE(b.questions.systemDiskAsked.empty());
      EXPECT_TRUE(report.download.Completed()) << report.download.what;
      continue;
    }
    ASSERT_EQ(b.questions.systemDiskAsked.size(), 1u);
    EXPECT_NE(b.questions.systemDiskAsked[0].find(c.asked), std::string::npos)
        << b.questions.systemDiskAsked[0];
    if (c.secondYes) {
      EXPECT_TRUE(report.download.Completed()) << report.download.what;
      EXPECT_EQ(b.drive.FirmwareRevision(), "NEW");
      continue;
    }
    EXPECT_EQ(report.download.result, Result::refused);
    EXPECT_EQ(report.download.what, b.questions.systemDiskAsked[0]);
    EXPECT_TRUE(report.Declined());
    EXPECT_EQ(b.questions.goAheads, 0);
    EXPECT_EQ(b.host.dialogs, 0);
    EXPECT_TRUE(OnlyIdentifySent(b));
  }
}

TEST(UpdateProcedure, SentAnywayTheDownloadGoesOutAndItsOutcomeStands) {
  sim::DriveIdentity id;
  id.dlmcSupported = false;
  OpsBench b(TransportKind::pio, id);
  b.questions.sendAnyway = true;
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
  UpdateRequest request;
  request.mode = kPermanent;
  const UpdateReport report = b.Update(request);
  EXPECT_TRUE(report.sentAnyway);
  // The drive meant what it said.
  EXPECT_EQ(report.download.result, Result::refusedByDrive);
  EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
}

// Break pressed at the pump after the vendor unlock's last command: neither
// the dialog nor DOWNLOAD MICROCODE follows, for a download or an activation.
TEST(UpdateProcedure, BreakDuringTheUnlockSendsNothingMore) {
  for (const std::uint8_t mode : {kPermanent, kActivate}) {
    SCOPED_TRACE(int{mode});
    OpsBench b(TransportKind::ataPassThrough);
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
    b.host.breakWhen = [&b] { return b.Commands(0xB0).size() == 2; };
    UpdateRequest request;
    request.mode = mode;
    const UpdateReport report = b.Update(request);
    EXPECT_EQ(report.stage, UpdateReport::Stage::unlock);
    EXPECT_EQ(report.download.result, Result::stoppedByBreak);
    EXPECT_TRUE(b.Commands(0x92).empty());
    EXPECT_EQ(b.host.dialogs, 0);
    ASSERT_FALSE(b.host.log.empty());
    EXPECT_EQ(b.host.log.back(), std::string("Stopped by Break before the ") +
                                     (mode == kActivate ? "activation" : "download") +
                                     ": the drive keeps its current firmware");
  }
}

TEST(UpdateProcedure, NoConsentAtTheGoAheadSendsNothingMore) {
  OpsBench b(TransportKind::scsiPassThrough);
  b.questions.goAhead = false;
  UpdateRequest request;
  request.mode = kPermanent;
  const UpdateReport report = b.Update(request);
  EXPECT_EQ(report.stage, UpdateReport::Stage::goAhead);
  EXPECT_EQ(report.download.result, Result::cancelled);
  EXPECT_TRUE(OnlyIdentifySent(b));
  EXPECT_EQ(b.host.dialogs, 0);
}

TEST(UpdateProcedure, BreakWhileTheChecksWaitOnTheDriveStopsThere) {
  OpsBench b(TransportKind::pio);
  b.drive.Faults().stayBusy = true;
  b.host.breakAtPump = 3;
  UpdateRequest request;
  request.mode = kPermanent;
  const UpdateReport report = b.Update(request);
  EXPECT_EQ(report.stage, UpdateReport::Stage::identify);
  EXPECT_EQ(report.download.result, Result::stoppedByBreak);
  EXPECT_EQ(b.questions.goAheads, 0);
  EXPECT_EQ(b.host.dialogs, 0);
  EXPECT_EQ(b.Commands(0x92).size(), 0u);
}

std::vector<std::uint8_t> SectorWithWwn(std::uint16_t w108, std::uint16_t w109) {
  std::vector<std::uint8_t> s(kSectorSize);
  PutU16(&s[2 * 108], w108);
  PutU16(&s[2 * 109], w109);
  return s;
}

TEST(UpdateProcedure, TheVendorUnlockGoesOnlyToThatMakersDrives) {
  struct Case {
    const char* model;
    std::vector<std::uint8_t> sector;
    bool wdc;
  };
  const Case cases[] = {
      {"WDC WD5000AAKX-00SIMB0", {}, true},
      {"ST1000DM003-1CH162", {}, false},
      {"WDCX", {}, false},  // "WDC" must stand alone
      {"", SectorWithWwn(0x5001, 0x4EE0), true},   // NAA 5, OUI 0014EEh
      {"", SectorWithWwn(0x5000, 0xC500), false},  // another maker's OUI
      {"", SectorWithWwn(0x6001, 0x4EE0), false},  // not NAA 5
  };
  for (const Case& c : cases) {
    IdentifyOutcome id;
    id.model = c.model;
    id.sector = c.sector;
    EXPECT_EQ(IsWdcDrive(id), c.wdc) << c.model << " " << c.sector.size();
  }

  sim::DriveIdentity seagate;
  seagate.model = "ST1000DM003-1CH162";
  OpsBench b(TransportKind::ataPassThrough, seagate);
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 10)));
  UpdateRequest request;
  request.mode = kPermanent;
  EXPECT_TRUE(b.Update(request).download.Completed());
  EXPECT_EQ(b.host.log.front(), "Vendor unlock left out: not a WDC drive");
  EXPECT_TRUE(b.Commands(0x80).empty());
  EXPECT_TRUE(b.Commands(0xB0).empty());
}

TEST(UpdateProcedure, TheCountRegisterStopsADownloadTheDriveTookOtherwise) {
  struct Case {
    std::uint8_t answer;
    std::size_t segmentsSent;
    const char* closing;
  };
  const Case cases[] = {
      {0x02, 1, "FAILED: the drive reported the download complete after 64 of 300 blocks (64 of "
                "300 blocks sent"},
      {0x03, 1, "FAILED: the drive reported the download complete after 64 of 300 blocks"},
      {0x01, 5, "FAILED: the drive still waits for data (300 of 300 blocks sent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.answer));
    OpsBench b(TransportKind::ataPassThrough);
    b.drive.Faults().segmentAnswer = c.answer;
    b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("NEW", 300)));
    UpdateRequest request;
    request.mode = kSegmented;
    const UpdateReport report = b.Update(request);
    EXPECT_EQ(report.download.result, Result::refusedByDrive);
    EXPECT_EQ(b.Commands(0x92).size(), c.segmentsSent);
    EXPECT_NE(b.host.log.back().find(c.closing), std::string::npos) << b.host.log.back();
    EXPECT_FALSE(report.verified);
  }
}

TEST(UpdateProcedure, SegmentsSplitEvenlyAboveTheDrivesMinimum) {
  sim::DriveIdentity id;
  id.segmentMin = 128;
  id.segmentMax = 256;
  OpsBench b(TransportKind::pio, id);
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("EVEN", 300)));
  UpdateRequest request;
  request.mode = kSegmented;
  request.segments.fromDrive = true;
  const UpdateReport report = b.Update(request);
  ASSERT_TRUE(report.download.Completed()) << report.download.what;
  const auto segments = b.Commands(0x92);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].count, 150);
  EXPECT_EQ(segments[1].count, 150);
  EXPECT_EQ(b.drive.FirmwareRevision(), "EVEN");
}

// A whole image (01, 07) goes in one command, which the system refuses when
// it is larger than the disk's queue takes (65536 bytes here): the procedure
// refuses it first. Named up front (the command line) it is refused before
// the checks' question, the go-ahead and the unlock; through the window's
// dialog, which comes after the unlock, right after the dialog. Segments are
// cut to the limit, and PIO has none.
TEST(UpdateProcedure, AWholeImageLargerThanOneTransferIsRefusedBeforeItIsSent) {
  constexpr std::uint32_t kLimit = 65536;  // 128 blocks
  struct Case {
    const char* what;
    TransportKind kind;
    std::uint8_t mode;
    bool fileFirst;  // the command line names the file; the window asks after the unlock
    std::uint32_t blocks;
    bool refused;
    std::vector<int> commands{};  // the DOWNLOAD MICROCODE counts sent, when not refused
    SegmentRequest segments{};
  };
  const Case cases[] = {
      {"07 from the dialog", TransportKind::ataPassThrough, kPermanent, false, 200, true},
      {"01 named first", TransportKind::ataPassThrough, kTemporary, true, 200, true},
      {"07 over a USB bridge named first", TransportKind::scsiPassThrough, kPermanent, true, 200,
       true},
      {"01 over a USB bridge from the dialog", TransportKind::scsiPassThrough, kTemporary, false,
       129, true},
      {"07 of exactly the limit",
       TransportKind::ataPassThrough,
       kPermanent,
       true,
       128,
       false,
       {128}},
      {"07 over PIO", TransportKind::pio, kPermanent, true, 200, false, {200}},
      {"03 cut to the limit",
       TransportKind::ataPassThrough,
       kSegmented,
       true,
       200,
       false,
       {128, 72},
       {255, false}},
      {"0E over a USB bridge cut to the limit",
       TransportKind::scsiPassThrough,
       kDeferred,
       false,
       200,
       false,
       {128, 72},
       {std::nullopt, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DriveIdentity id;
    id.segmentMax = 255;
    OpsBench b(c.kind, id, kLimit);
    // The checks ask about a disk in use: a refusal of the file named first
    // must come before that question.
    for (auto& disk : b.bench.Disks().Disks()) disk.inUse = "/srv is mounted";
    b.questions.sendAnyway = true;
    const std::string file = b.File("fw.bin", sim::MakeBenchFirmware("NEW", c.blocks));
    UpdateRequest request;
    request.mode = c.mode;
    request.segments = c.segments;
    request.via = FirmwareVia::passThrough;
    if (c.fileFirst) {
      request.file = file;
    } else {
      b.host.dialogAnswers.push_back(file);
    }
    const UpdateReport report = b.Update(request);
    std::vector<int> sent;
    for (const auto& command : b.Commands(0x92)) sent.push_back(command.count);
    if (!c.refused) {
      EXPECT_TRUE(report.download.Completed()) << report.download.what;
      EXPECT_EQ(sent, c.commands);
      // 0E keeps the image for activation.
      EXPECT_EQ(b.drive.FirmwareRevision(), c.mode == kDeferred ? "BF1.00" : "NEW");
      continue;
    }
    EXPECT_EQ(report.download.result, Result::refused);
    EXPECT_TRUE(report.Declined());
    EXPECT_TRUE(sent.empty());
    const std::string refusal = "Download Microcode 0" + std::to_string(c.mode) +
                                " - fw.bin - Refused: the image's " + std::to_string(c.blocks) +
                                " blocks go in one command, more than the 65536 bytes the system "
                                "takes in one transfer to this disk; use Segmented (03) or "
                                "Deferred (0E), whose segments are cut to at most 128 blocks";
    ASSERT_FALSE(b.host.log.empty());
    EXPECT_EQ(b.host.log.back(), refusal);
    const bool unlocked = !b.Commands(0x80).empty();
    if (c.fileFirst) {
      EXPECT_TRUE(b.questions.asked.empty());
      EXPECT_EQ(b.questions.goAheads, 0);
      EXPECT_FALSE(unlocked);
      EXPECT_EQ(b.host.dialogs, 0);
    } else {
      EXPECT_EQ(b.questions.goAheads, 1);
      EXPECT_TRUE(unlocked);
      EXPECT_EQ(b.host.dialogs, 1);
    }
  }
}

TEST(UpdateProcedure, TheRevisionIsReadBackAfterEachKindOfDownload) {
  OpsBench b(TransportKind::ataPassThrough);
  const auto run = [&](std::optional<std::uint8_t> mode, const char* revision) {
    if (revision) {
      b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware(revision, 10)));
    }
    UpdateRequest request;
    request.mode = mode;
    return RevisionLine(b.Update(request));
  };
  EXPECT_EQ(run(kPermanent, "P1"), "Firmware revision BF1.00 -> P1");
  EXPECT_EQ(run(kDeferred, "D2"), "Firmware revision P1; the new firmware waits for activation (0F)");
  EXPECT_EQ(run(kActivate, nullptr), "Firmware revision P1 -> D2");
  // A change was due and did not come: the line says so, not "D2 -> D2" alone.
  EXPECT_EQ(run(kPermanent, "D2"),
            "Firmware revision D2 -> D2: unchanged, where the download should have changed it "
            "(the image holds the same revision, or the drive did not apply it)");
  // The drive refuses an activation with nothing deferred: nothing is verified.
  EXPECT_EQ(run(kActivate, nullptr), "");
  // No mode: the unlock alone, and no line.
  EXPECT_EQ(run(std::nullopt, nullptr), "");
}

}  // namespace
}  // namespace brisquel::test
