// NVMe firmware updates on Windows: the update procedure through the storage
// stack's firmware interface, answered by the stand-in driver in front of a
// bench controller. Each mode's calls and what it leaves in the slots, what
// the stack cannot express refused before anything goes out, and a download
// that ends partway.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "ops/FakeOperationHost.h"
#include "ops/OpsBench.h"
#include "ops/UpdateProcedure.h"
#include "platform/windows/portable/KeptNvmeDriver.h"
#include "sim/Bench.h"
#include "sim/BenchFirmware.h"
#include "sim/NvmeController.h"
#include "discovery/uSetupApiEnum.h"
#include "ui/TargetSelection.h"

namespace brisquel::winpt::test {
namespace {

using brisquel::test::FakeUpdateQuestions;
using Result = DownloadOutcome::Result;

// Three slots, slot 1 read-only, running 2.0 from slot 2; the driver's
// alignment 8 KiB (FWUG 2) and largest piece 16 KiB (MDTS 2).
const std::string kController =
    "[nvme n]\nmodel = SIM NVMe 1\nserial = SN-1\nslots = 3\nslot1 = 1.0\n"
    "slot1-read-only = yes\nslot2 = 2.0\nactive-slot = 2\nfwug = 2\nmdts = 2\n";
const std::string kDisk = "[disk]\npath = sim:nvme\nnvme = n\nbus = NVMe\n";

// A bench controller selected as Windows selects an NVMe disk, and updated.
struct WindowsRig {
  explicit WindowsRig(const std::string& bench) {
    sim::BenchLoad load = sim::Bench::FromText(bench);
    EXPECT_TRUE(load.bench) << load.error;
    this->bench = std::move(load.bench);
    io = std::make_unique<NvmeStandInIo>(this->bench->Io());
    ctx = std::make_unique<OperationContext>(state, this->bench->Ports(), *io, host);
    TST_PhysicalDrive drive{};
    drive.DevicePath = "sim:nvme";
    drive.BusType = kBusTypeNvme;
    EXPECT_EQ(SelectDriveTarget(ctx->transport, drive), Selected::ready);
    io->driver.calls.clear();
    host.log.clear();
  }
  ~WindowsRig() {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }

  UpdateReport Update(UpdateRequest request, const std::vector<std::uint8_t>& image) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    host.dialogAnswers.push_back(file.string());
    request.devicePath = "sim:nvme";
    UpdateContext update{*ctx, questions, bench->Users(), bench->Clock()};
    return RunUpdate(update, request);
  }
  const sim::NvmeIdentity& Controller() { return bench->Nvme("n")->Identity(); }
  // The firmware calls the driver was given, without the reads around them.
  std::vector<std::string> FirmwareCalls() const {
    std::vector<std::string> calls;
    for (const std::string& call : io->driver.calls) {
      if (call.rfind("QUERY", 0) != 0 && call.rfind("GET_INFO", 0) != 0) calls.push_back(call);
    }
    return calls;
  }

  std::unique_ptr<sim::Bench> bench;
  std::unique_ptr<NvmeStandInIo> io;
  TransportState state;
  brisquel::test::FakeOperationHost host{state.BreakFlag};
  std::unique_ptr<OperationContext> ctx;
  FakeUpdateQuestions questions;
  std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("nvme-stack-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".bin");
};

UpdateRequest Mode(std::uint8_t mode, std::optional<int> slot = {}, bool now = false) {
  UpdateRequest request;
  request.mode = mode;
  request.slot = slot;
  request.activateNow = now;
  return request;
}

const std::vector<std::string> kTwoPieces = {
    "DOWNLOAD slot 3 offset 0 bytes 16384 flags 4 -> 0",
    "DOWNLOAD slot 3 offset 16384 bytes 16384 flags 2 -> 0"};

std::vector<std::string> Then(std::vector<std::string> calls, const std::string& last) {
  calls.push_back(last);
  return calls;
}

TEST(NvmeThroughTheStack, EachModeIsDownloadThenActivateOrActivateOfTheSlot) {
  const auto image = sim::MakeBenchFirmware("3.0", 64);  // 32 KiB: two pieces of 16 KiB
  struct Case {
    const char* what;
    std::string extra;  // controller lines
    UpdateRequest request;
    std::vector<std::string> calls;
    int active, next;
    std::string line;
  };
  const Case cases[] = {
      {"07: slot 3, the driver commits it for the next reset", "", Mode(0x07),
       Then(kTwoPieces, "ACTIVATE slot 3 -> 0"), 2, 3,
       "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"03 as 07", "", Mode(0x03), Then(kTwoPieces, "ACTIVATE slot 3 -> 0"), 2, 3,
       "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"07 on a controller that activates without a reset: the driver runs it at once",
       "activate-without-reset = yes\n", Mode(0x07), Then(kTwoPieces, "ACTIVATE slot 3 -> 0"), 3, 0,
       "Firmware revision 2.0 -> 3.0"},
      {"07 --slot 2, the active slot", "", Mode(0x07, 2),
       {"DOWNLOAD slot 2 offset 0 bytes 16384 flags 4 -> 0",
        "DOWNLOAD slot 2 offset 16384 bytes 16384 flags 2 -> 0", "ACTIVATE slot 2 -> 0"},
       2, 2, "Firmware revision 2.0; 3.0 waits in slot 2 for the next reset"},
      {"0F: the image already in slot 3", "slot3 = 3.0\n", Mode(0x0F),
       {"ACTIVATE slot 3 existing -> 0"}, 2, 3,
       "Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"},
      {"0F --slot 1: a read-only slot's image can be switched to", "", Mode(0x0F, 1),
       {"ACTIVATE slot 1 existing -> 0"}, 2, 1,
       "Firmware revision 2.0; 1.0 waits in slot 1 for the next reset"},
      {"0F at once where the controller can", "slot3 = 3.0\nactivate-without-reset = yes\n",
       Mode(0x0F), {"ACTIVATE slot 3 existing -> 0"}, 3, 0, "Firmware revision 2.0 -> 3.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WindowsRig rig(kController + c.extra + kDisk);
    const UpdateReport r = rig.Update(c.request, image);
    EXPECT_EQ(r.download.result, Result::completed) << r.download.what;
    EXPECT_TRUE(r.refusals.empty()) << r.refusals.front();
    EXPECT_EQ(rig.FirmwareCalls(), c.calls);
    EXPECT_EQ(rig.Controller().activeSlot, c.active);
    EXPECT_EQ(rig.Controller().nextSlot, c.next);
    EXPECT_EQ(RevisionLine(r), c.line);
    EXPECT_FALSE(r.revisionUnchanged);
    EXPECT_EQ(rig.host.log.front(), "Through Windows' firmware interface");
    if (c.request.mode != 0x0F) {
      EXPECT_EQ(r.pieceBytes, 16384u);
      EXPECT_EQ(r.pieceWhy, "the storage stack's alignment 8 KiB, largest piece 16 KiB");
      EXPECT_EQ(rig.host.log.back(),
                "Download Microcode 0" + std::string(c.request.mode == 0x03 ? "3" : "7") +
                    " - " + rig.file.filename().string() + " - End - OK");
    }
  }
}

TEST(NvmeThroughTheStack, WhatTheStackCannotExpressIsRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* what;
    std::string bench;
    UpdateRequest request;
    std::size_t imageBlocks;
    std::string why;  // the start of the refusal's reason
  };
  UpdateRequest viaPassThrough = Mode(0x07);
  viaPassThrough.via = FirmwareVia::passThrough;
  const Case cases[] = {
      {"0E: stored without an activation", kController + kDisk, Mode(0x0E), 64,
       "on Windows the storage stack commits an NVMe image only as it activates it"},
      {"--activate now", kController + "activate-without-reset = yes\n" + kDisk,
       Mode(0x07, {}, true), 64, "on Windows the storage stack's driver decides when new firmware runs"},
      {"--slot 1, read-only, to write", kController + kDisk, Mode(0x07, 1), 64,
       "the storage stack does not offer slot 1 for this (it offers 2, 3)"},
      {"--slot 5, not there", kController + kDisk, Mode(0x0F, 5), 64,
       "the storage stack does not offer slot 5 for this (it offers 1, 2, 3)"},
      {"--via pass-through", kController + kDisk, viaPassThrough, 64,
       "on Windows an NVMe drive's firmware goes only through the storage stack's firmware "
       "interface, not pass-through"},
      {"a controller without firmware commands: the driver offers no upgrade",
       kController + "firmware-commands = no\n" + kDisk, Mode(0x07), 64,
       "on Windows an NVMe drive's firmware goes only through the storage stack's firmware "
       "interface, and the disk's driver says the drive cannot take firmware through it"},
      {"an image of no whole number of the driver's 8 KiB pieces", kController + kDisk, Mode(0x07),
       24, "Refused: the file's 12288 bytes do not go in pieces of the storage stack's alignment "
           "(8192 bytes) of at most 16384 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WindowsRig rig(c.bench);
    const UpdateReport r = rig.Update(c.request, sim::MakeBenchFirmware("3.0", c.imageBlocks));
    EXPECT_EQ(r.download.result, Result::refused);
    EXPECT_EQ(r.download.what.rfind(c.why, 0), 0u) << r.download.what;
    EXPECT_TRUE(rig.FirmwareCalls().empty());
    EXPECT_EQ(rig.Controller().activeSlot, 2);
    EXPECT_EQ(rig.Controller().nextSlot, 0);
    EXPECT_EQ(rig.Controller().slotRevisions[2], "");
  }
}

TEST(NvmeThroughTheStack, ADownloadEndedPartwayActivatesNothing) {
  const auto image = sim::MakeBenchFirmware("3.0", 64);
  struct Case {
    const char* what;
    std::string extra;
    std::function<void(WindowsRig&)> arrange;
    Result result;
    std::vector<std::string> calls;
    std::string what_;  // in the outcome's words
  };
  const Case cases[] = {
      {"the second piece fails", "", [](WindowsRig& r) { r.io->driver.failDownloadAt = 16384; },
       Result::refusedBySystem,
       {"DOWNLOAD slot 3 offset 0 bytes 16384 flags 4 -> 0",
        "DOWNLOAD slot 3 offset 16384 bytes 16384 flags 2 -> 1117"},
       "IOCTL_STORAGE_FIRMWARE_DOWNLOAD"},
      {"the controller refuses the image at the commit",
       "refuse-opcode = 10\nrefuse-status = 4107\n", [](WindowsRig&) {}, Result::refusedBySystem,
       Then(kTwoPieces, "ACTIVATE slot 3 -> 1117"), "IOCTL_STORAGE_FIRMWARE_ACTIVATE"},
      {"Break after the first piece", "",
       [](WindowsRig& r) {
         r.host.onProgress = [&r](std::uint32_t sent, std::uint32_t) {
           if (sent > 0) r.state.BreakFlag = true;
         };
       },
       Result::stoppedByBreak, {"DOWNLOAD slot 3 offset 0 bytes 16384 flags 4 -> 0"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WindowsRig rig(kController + c.extra + kDisk);
    c.arrange(rig);
    const UpdateReport r = rig.Update(Mode(0x07), image);
    EXPECT_EQ(r.download.result, c.result) << r.download.what;
    EXPECT_NE(r.download.what.find(c.what_), std::string::npos) << r.download.what;
    EXPECT_EQ(rig.FirmwareCalls(), c.calls);
    EXPECT_EQ(rig.Controller().activeSlot, 2);
    EXPECT_EQ(rig.Controller().nextSlot, 0) << "nothing waits for the reset";
    const std::string closing = c.result == Result::stoppedByBreak ? "Stopped by Break" : "FAILED";
    EXPECT_NE(rig.host.log.back().find(closing), std::string::npos) << rig.host.log.back();
  }
}

// The disk's users on Windows as on Linux: any namespace of the controller in
// use asks first, and the running system's disk is no exception; the stack
// expects the switch, so no further question for the system disk.
TEST(NvmeThroughTheStack, ADiskInUseOnTheControllerAsksFirst) {
  const std::string bench = kController + kDisk + "[disk]\npath = sim:nvme-ns2\nnvme = n\nbus = NVMe\nsystem = windows\n";
  for (const bool send : {false, true}) {
    SCOPED_TRACE(send ? "sent anyway" : "not sent");
    WindowsRig rig(bench);
    rig.questions.sendAnyway = send;
    const UpdateReport r = rig.Update(Mode(0x07), sim::MakeBenchFirmware("3.0", 64));
    ASSERT_EQ(rig.questions.asked.size(), 1u);
    EXPECT_NE(rig.questions.asked[0].find("the NVMe controller of sim:nvme is in use"),
              std::string::npos)
        << rig.questions.asked[0];
    EXPECT_TRUE(rig.questions.systemDiskAsked.empty());
    EXPECT_EQ(r.download.Completed(), send);
    EXPECT_EQ(rig.FirmwareCalls().size(), send ? 3u : 0u);
  }
}

}  // namespace
}  // namespace brisquel::winpt::test
