// The update procedure on the bench's NVMe controller: what each mode sends
// and leaves in the slots, the refusals before anything is sent, a commit the
// controller answers with a reset to make, Break between pieces, and the
// piece sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/FakeOperationHost.h"
#include "ops/NvmeFirmware.h"
#include "ops/OpsBench.h"
#include "ops/UpdateProcedure.h"
#include "sim/Bench.h"
#include "sim/BenchFile.h"
#include "sim/BenchFirmware.h"
#include "transport/DeviceIo.h"

namespace brisquel::test {
namespace {

// Three slots, slot 1 read-only, running 2.0 from slot 2; pieces of at most
// 16 KiB (MDTS 2) on an 8 KiB granularity.
const std::string kController =
    "[nvme n]\nmodel = SIM NVMe 1\nserial = SN-1\nslots = 3\nslot1 = 1.0\n"
    "slot1-read-only = yes\nslot2 = 2.0\nactive-slot = 2\nfwug = 2\nmdts = 2\nmtfa = 3000\n";

class NvmeBench {
 public:
  explicit NvmeBench(const std::string& text) : bench(Load(text)) {
    state.DriveTarget.kind = TransportKind::nvme;
    state.DriveTarget.ataPassHandle =
        bench->Io().CreateFileA(sim::DefaultDiskPath(0), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  }

  UpdateReport Update(UpdateRequest request, const std::vector<std::uint8_t>& image) {
    request.devicePath = sim::DefaultDiskPath(0);
    host.dialogAnswers.push_back(files.File("fw.bin", image));
    return RunUpdate(update, request);
  }
  const sim::NvmeIdentity& Controller() { return bench->Nvme("n")->Identity(); }
  const std::vector<std::uint8_t>& Sent() { return bench->Nvme("n")->History(); }

  static std::unique_ptr<sim::Bench> Load(const std::string& text) {
    sim::BenchLoad load = sim::Bench::FromText(text);
    if (!load.bench) throw std::runtime_error(load.error);
    return std::move(load.bench);
  }

  std::unique_ptr<sim::Bench> bench;
  TransportState state;
  FakeOperationHost host{state.BreakFlag};
  OperationContext ctx{state, bench->Ports(), bench->Io(), host};
  FakeUpdateQuestions questions;
  UpdateContext update{ctx, questions, bench->Users(), bench->Clock()};
  OpsBench files{TransportKind::pio};  // a scratch folder for the image
};

UpdateRequest Mode(std::uint8_t mode, std::optional<int> slot = {}, bool now = false) {
  UpdateRequest request;
  request.mode = mode;
  request.slot = slot;
  request.activateNow = now;
  return request;
}

constexpr std::uint8_t kId = 0x06, kLog = 0x02, kPiece = 0x11, kCommit = 0x10;

TEST(NvmeUpdate, EachModeLeavesTheSlotsAsItSaysAndSaysWhatWaitsForWhichReset) {
  const auto image = sim::MakeBenchFirmware("3.0", 64);  // 32 KiB: two pieces
  using Result = DownloadOutcome::Result;
  struct Case {
    const char* what;
    std::string extra;  // bench lines after the controller's
    UpdateRequest request;
    Result result;
    int active, next;
    std::string slot3;
    std::string line;  // the window's revision line
    bool unchanged = false;
  };
  const Case cases[] = {
      {"07: slot 3, at the next reset", "", Mode(0x07), Result::completed, 2, 3, "3.0",
       "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"03 as 07", "", Mode(0x03), Result::completed, 2, 3, "3.0",
       "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"0E: stored only", "", Mode(0x0E), Result::completed, 2, 0, "3.0",
       "Firmware revision 2.0; 3.0 is stored in slot 3, not activated (0F activates it)"},
      {"0F: the slot 0E wrote, at the next reset", "slot3 = 3.0\n", Mode(0x0F), Result::completed,
       2, 3, "3.0", "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"07 --activate now", "activate-without-reset = yes\n", Mode(0x07, {}, true),
       Result::completed, 3, 0, "3.0", "Firmware revision 2.0 -> 3.0"},
      {"0F --activate now", "slot3 = 3.0\nactivate-without-reset = yes\n", Mode(0x0F, {}, true),
       Result::completed, 3, 0, "3.0", "Firmware revision 2.0 -> 3.0"},
      {"now, answered 10Bh",
       "activate-without-reset = yes\nrefuse-opcode = 10\nrefuse-status = 010B\n",
       Mode(0x07, {}, true), Result::completed, 2, 3, "3.0",
       "Firmware revision 2.0; 3.0 waits in slot 3 for a conventional reset"},
      {"07 answered 111h", "refuse-opcode = 10\nrefuse-status = 0111\n", Mode(0x07),
       Result::completed, 2, 3, "3.0",
       "Firmware revision 2.0; 3.0 waits in slot 3 for a controller reset"},
      {"the image refused (107h)", "refuse-opcode = 10\nrefuse-status = 4107\n", Mode(0x07),
       Result::refusedByDrive, 2, 0, "", ""},
      {"--slot 2, the active one", "", Mode(0x07, 2), Result::completed, 2, 2, "",
       "Firmware revision 2.0; 3.0 waits in slot 2 for the next reset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeBench b(kController + c.extra + "[disk]\nnvme = n\n");
    const UpdateReport r = b.Update(c.request, image);
    EXPECT_EQ(r.download.result, c.result) << r.download.what;
    EXPECT_TRUE(r.refusals.empty()) << r.refusals.front();
    EXPECT_EQ(b.Controller().activeSlot, c.active);
    EXPECT_EQ(b.Controller().nextSlot, c.next);
    EXPECT_EQ(b.Controller().slotRevisions[2], c.slot3);
    EXPECT_EQ(RevisionLine(r), c.line);
    EXPECT_EQ(r.revisionUnchanged, c.unchanged);
    const auto& sent = b.Sent();
    const bool download = c.request.mode != 0x0F;
    // Identify and the slot log, the pieces, the commit, then both again.
    std::vector<std::uint8_t> expected{kId, kLog};
    if (download) expected.insert(expected.end(), {kPiece, kPiece});
    expected.push_back(kCommit);
    if (c.result == Result::completed) expected.insert(expected.end(), {kId, kId, kLog});
    EXPECT_EQ(sent, expected);
    if (c.result != Result::completed) {
      EXPECT_NE(r.download.what.find("Firmware Commit"), std::string::npos) << r.download.what;
      EXPECT_NE(r.download.what.find("invalid firmware image"), std::string::npos)
          << r.download.what;
      EXPECT_NE(b.host.log.back().find("FAILED"), std::string::npos) << b.host.log.back();
    }
  }

  // Activation now, and the controller came back with the revision it had:
  // a change due now that did not come.
  NvmeBench same(kController + "activate-without-reset = yes\n[disk]\nnvme = n\n");
  const UpdateReport r = same.Update(Mode(0x07, {}, true), sim::MakeBenchFirmware("2.0", 64));
  EXPECT_TRUE(r.download.Completed());
  EXPECT_TRUE(r.revisionUnchanged);
  EXPECT_EQ(RevisionLine(r).rfind("Firmware revision 2.0 -> 2.0: unchanged", 0), 0u)
      << RevisionLine(r);
}

TEST(NvmeUpdate, WhatTheControllerCannotTakeIsRefusedBeforeAnythingGoesOutUnlessSentAnyway) {
  const auto image = sim::MakeBenchFirmware("3.0", 64);
  struct Case {
    const char* what;
    std::string extra;
    UpdateRequest request;
    std::vector<std::uint8_t> image;
    std::string refusal;  // the start of the first
    std::vector<std::uint8_t> sent;
    // Sent anyway: what the controller's answer is named as; empty when
    // --force cannot pass it.
    std::string forced;
  };
  const std::vector<std::uint8_t> odd(1030, 0);
  UpdateRequest vendor;
  vendor.kind = UpdateRequest::Kind::vendor;
  UpdateRequest typed;  // a typed mode text: no mode
  const Case cases[] = {
      {"01", "", Mode(0x01), image, "an NVMe drive has no temporary image", {}, ""},
      {"WD DPTM", "", vendor, image, "the vendor download and unlock", {}, ""},
      {"a typed mode", "", typed, image, "a typed mode sends the vendor unlock alone", {}, ""},
      {"OACS bit 2 clear (as QEMU's)",
       "firmware-commands = no\nrefuse-opcode = 11\nrefuse-status = 4001\n", Mode(0x07), image,
       "the controller does not list Firmware Image Download and Commit", {kId, kLog},
       "Firmware Image Download failed: the controller refused it (generic 01h (invalid command "
       "opcode), do not retry)"},
      {"the read-only slot", "", Mode(0x07, 1), image, "slot 1 is read-only", {kId, kLog},
       "invalid firmware slot"},
      {"no slot 4", "", Mode(0x0E, 4), image, "slot 4 is not there: the controller has 3 slots",
       {kId, kLog}, "invalid firmware slot"},
      {"now, where only a reset can", "", Mode(0x07, {}, true), image,
       "the controller does not activate firmware without a reset", {kId, kLog}, ""},
      {"0F on an empty slot", "", Mode(0x0F), image, "slot 3 holds no firmware to activate",
       {kId, kLog}, "invalid firmware image"},
      {"the slot log unread", "refuse-opcode = 02\nrefuse-status = 4109\n", Mode(0x07), image,
       "the firmware slot log cannot be read (the controller refused it (command specific 09h "
       "(invalid log page), do not retry)), so which slot is active is unknown: name one with "
       "--slot",
       {kId, kLog}, ""},
      {"no whole dwords", "", Mode(0x07), odd, "Refused: the file has 1030 bytes, no whole number",
       {kId, kLog}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeBench b(kController + c.extra + "[disk]\nnvme = n\n");
    const UpdateReport r = b.Update(c.request, c.image);
    EXPECT_EQ(r.download.result, DownloadOutcome::Result::refused);
    EXPECT_EQ(r.download.what.rfind(c.refusal, 0), 0u) << r.download.what;
    EXPECT_EQ(b.Sent(), c.sent);
    EXPECT_EQ(b.Controller().nextSlot, 0);
    if (c.forced.empty()) continue;
    // --force: sent, and the controller's refusal ends it as a failure.
    NvmeBench forced(kController + c.extra + "[disk]\nnvme = n\n");
    forced.questions.sendAnyway = true;
    const UpdateReport f = forced.Update(c.request, c.image);
    EXPECT_EQ(f.download.result, DownloadOutcome::Result::refusedByDrive) << f.download.what;
    EXPECT_NE(f.download.what.find(c.forced), std::string::npos) << f.download.what;
    EXPECT_FALSE(f.verified);
    EXPECT_EQ(forced.Controller().nextSlot, 0);
  }
}

TEST(NvmeUpdate, PiecesFollowTheGranularityTheLargestTransferAndTheQueue) {
  const auto image = sim::MakeBenchFirmware("3.0", 100);  // 50 KiB
  struct Case {
    const char* what;
    std::string limits;
    std::uint32_t queueBytes;
    std::uint32_t piece;  // bytes
    std::string why;
  };
  const Case cases[] = {
      {"MDTS cut to FWUG", "fwug = 3\nmdts = 2\n", 0, 12288,
       "granularity 12 KiB, largest transfer 16 KiB"},
      {"the queue's limit below MDTS", "fwug = 1\nmdts = 5\n", 20480, 20480,
       "granularity 4 KiB, largest transfer 128 KiB, the queue's limit 20 KiB"},
      {"nothing stated", "fwug = 0\nmdts = 0\n", 0, 131072, "no stated limit"},
      {"any granularity", "fwug = 255\nmdts = 1\n", 6000, 6000,
       "largest transfer 8 KiB, the queue's limit 6000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeBench b(
        "[nvme n]\nslots = 2\nslot1 = 1.0\nslot2 = 2.0\nactive-slot = 1\n" + c.limits +
        "[disk]\nnvme = n\n");
    UpdateRequest request = Mode(0x07);
    request.queueBytes = c.queueBytes;
    const UpdateReport r = b.Update(request, image);
    EXPECT_TRUE(r.download.Completed()) << r.download.what;
    EXPECT_EQ(r.pieceBytes, c.piece);
    EXPECT_EQ(r.pieceWhy, c.why);
    const auto pieces = std::count(b.Sent().begin(), b.Sent().end(), kPiece);
    EXPECT_EQ(static_cast<std::size_t>(pieces), (image.size() + c.piece - 1) / c.piece);
    EXPECT_EQ(b.Controller().slotRevisions[1], "3.0") << "the image arrived whole";
  }
  // A granularity above the largest transfer: no piece fits.
  NvmeBench b("[nvme n]\nslots = 2\nslot2 = 2.0\nactive-slot = 2\nfwug = 8\nmdts = 1\n"
              "[disk]\nnvme = n\n");
  const UpdateReport r = b.Update(Mode(0x07), image);
  EXPECT_EQ(r.download.result, DownloadOutcome::Result::refused);
  EXPECT_EQ(r.download.what,
            "the controller's update granularity (32 KiB) is larger than the largest transfer "
            "(8 KiB): no piece size fits both");
}

TEST(NvmeUpdate, BreakBetweenPiecesEndsItWithNoCommit) {
  NvmeBench b(kController + "[disk]\nnvme = n\n");
  // Break as the second piece completes: no third piece, no commit.
  b.host.onProgress = [&](std::uint32_t sent, std::uint32_t) {
    if (sent == 64) b.state.BreakFlag = true;
  };
  const UpdateReport r = b.Update(Mode(0x07), sim::MakeBenchFirmware("3.0", 100));
  EXPECT_EQ(r.download.result, DownloadOutcome::Result::stoppedByBreak);
  EXPECT_EQ(r.download.sent, 64u);
  EXPECT_EQ(b.Sent(), (std::vector<std::uint8_t>{kId, kLog, kPiece, kPiece}));
  EXPECT_EQ(b.Controller().slotRevisions[2], "");
  EXPECT_EQ(b.host.log.back(),
            "Stopped by Break after 64 of 100 blocks: the drive keeps its current firmware; "
            "start the download again from the beginning");
}

// Firmware belongs to the controller: a namespace the system runs from holds
// the whole controller.
TEST(NvmeUpdate, EveryNamespaceOfTheControllerCountsForItsUsersAndTheSystemDisk) {
  const std::string bench = kController + "activate-without-reset = yes\n[disk]\nnvme = n\n"
                                          "[disk]\nnvme = n\nsystem = linux\n"
                                          "in-use = / is mounted from nvme0n2p1\n";
  NvmeBench atReset(bench);
  atReset.questions.sendAnyway = true;
  const UpdateReport r = atReset.Update(Mode(0x07), sim::MakeBenchFirmware("3.0", 64));
  ASSERT_EQ(atReset.questions.asked.size(), 1u);
  EXPECT_NE(atReset.questions.asked[0].find("is in use (/ is mounted from nvme0n2p1)"),
            std::string::npos)
      << atReset.questions.asked[0];
  EXPECT_TRUE(atReset.questions.systemDiskAsked.empty()) << "activation at the reset is safe";
  EXPECT_TRUE(r.download.Completed());

  for (const bool second : {false, true}) {
    NvmeBench now(bench);
    now.questions.sendAnyway = true;
    now.questions.sendToSystemDisk = second;
    const UpdateReport n = now.Update(Mode(0x07, {}, true), sim::MakeBenchFirmware("3.0", 64));
    ASSERT_EQ(now.questions.systemDiskAsked.size(), 1u);
    EXPECT_NE(now.questions.systemDiskAsked[0].find(
                  "holds the running system, and --activate now switches it"),
              std::string::npos);
    EXPECT_NE(now.questions.systemDiskAsked[0].find("The safe way: activation at the next reset"),
              std::string::npos);
    EXPECT_EQ(n.download.Completed(), second);
    EXPECT_EQ(now.Controller().activeSlot, second ? 3 : 2);
  }
}

// The bench as Windows' device I/O shows it: with the storage stack's
// firmware interface, which is the only way it lets firmware reach an NVMe
// drive.
class WindowsLikeIo : public ForwardingDeviceIo {
 public:
  using ForwardingDeviceIo::ForwardingDeviceIo;
  bool HasFirmwareInterface() override { return true; }
};

TEST(NvmeUpdate, OnWindowsNothingIsSentUntilItsFirmwareInterfaceCarriesIt) {
  NvmeBench b(kController + "[disk]\nnvme = n\n");
  WindowsLikeIo io(b.bench->Io());
  OperationContext ctx{b.state, b.bench->Ports(), io, b.host};
  UpdateContext update{ctx, b.questions, b.bench->Users(), b.bench->Clock()};
  UpdateRequest request = Mode(0x07);
  request.devicePath = sim::DefaultDiskPath(0);
  const UpdateReport r = RunUpdate(update, request);
  EXPECT_EQ(r.download.result, DownloadOutcome::Result::refused);
  EXPECT_EQ(r.download.what.rfind("on Windows an NVMe drive's firmware goes only through", 0), 0u)
      << r.download.what;
  EXPECT_TRUE(b.Sent().empty());
}

TEST(NvmeUpdate, TheCommitsTimeLimitAndTheSlotChoice) {
  EXPECT_EQ(NvmeCommitTimeLimit(0), 120u);
  EXPECT_EQ(NvmeCommitTimeLimit(1200), 120u);
  EXPECT_EQ(NvmeCommitTimeLimit(1201), 121u) << "a part of a second is a whole one";
  EXPECT_EQ(NvmeCommitTimeLimit(65535), 6554u);

  NvmeControllerFacts c;
  c.slotCount = 3;
  c.slot1ReadOnly = true;
  NvmeSlotLog log;
  log.activeSlot = 2;
  EXPECT_EQ(ChooseNvmeSlot(c, log, {}), 3);
  EXPECT_EQ(ChooseNvmeSlot(c, log, 1), 1) << "asked for";
  EXPECT_EQ(ChooseNvmeSlot(c, std::nullopt, {}), std::nullopt) << "the active slot unknown";
  c.slotCount = 2;
  EXPECT_EQ(ChooseNvmeSlot(c, log, {}), 2) << "the only writable slot, though active";
  c.slot1ReadOnly = false;
  c.slotCount = 1;
  log.activeSlot = 1;
  EXPECT_EQ(ChooseNvmeSlot(c, log, {}), 1);
}

}  // namespace
}  // namespace brisquel::test
