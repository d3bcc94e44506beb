// Windows' storage firmware interface: the records byte by byte, and whole
// updates through a stand-in for the disk's driver backed by a bench drive:
// the interface path, the fall-back to pass-through, --via, and failures.
#include <gtest/gtest.h>

#include <algorithm>

#include "ops/FakeOperationHost.h"
#include "ops/OpsBench.h"
#include "ops/UpdateProcedure.h"
#include "platform/windows/portable/FirmwareDriverStandIn.h"
#include "platform/windows/portable/FirmwareRecords.h"
#include "sim/Bench.h"
#include "sim/BenchFirmware.h"
#include "transport/Bytes.h"
#include "ui/TargetSelection.h"

namespace brisquel::winpt::test {
namespace {

TEST(FirmwareRecords, EachRecordLaysOutItsFieldsWhereTheSystemReadsThem) {
  const auto query = FirmwareInfoQueryBytes();
  ASSERT_EQ(query.size(), 16u);
  EXPECT_EQ(GetU32(&query[0]), 16u);  // Version
  EXPECT_EQ(GetU32(&query[4]), 16u);  // Size
  EXPECT_EQ(GetU32(&query[8]), 0u);   // Flags

  const std::vector<std::uint8_t> image{1, 2, 3, 4};
  FirmwarePieceRequest piece{2, 0x123456789A, image, true, true};
  const auto download = FirmwareDownloadBytes(piece);
  ASSERT_EQ(download.size(), 44u);
  EXPECT_EQ(GetU32(&download[0]), 40u);       // Version: the record's size
  EXPECT_EQ(GetU32(&download[4]), 44u);       // Size: 40 and the piece
  EXPECT_EQ(GetU32(&download[8]), 0x6u);      // FIRST_SEGMENT | LAST_SEGMENT
  EXPECT_EQ(download[12], 2);                 // Slot
  EXPECT_EQ(GetU64(&download[16]), 0x123456789Au);  // Offset
  EXPECT_EQ(GetU64(&download[24]), 4u);       // BufferSize
  EXPECT_EQ(std::vector<std::uint8_t>(download.begin() + 32, download.begin() + 36), image);
  piece.first = false;
  EXPECT_EQ(GetU32(&FirmwareDownloadBytes(piece)[8]), 0x2u);

  const auto activate = FirmwareActivateBytes(3);
  ASSERT_EQ(activate.size(), 16u);
  EXPECT_EQ(GetU32(&activate[0]), 16u);
  EXPECT_EQ(GetU32(&activate[4]), 16u);
  EXPECT_EQ(GetU32(&activate[8]), 0u);
  EXPECT_EQ(activate[12], 3);
}

TEST(FirmwareRecords, GetInfosAnswerIsReadWithItsSlotsAndRefusedWhenShort) {
  std::vector<std::uint8_t> answer(24 + 2 * 32);
  PutU32(&answer[0], 24);
  answer[8] = 0x01;    // SupportUpgrade
  answer[9] = 2;       // SlotCount
  answer[10] = 1;      // ActiveSlot
  answer[11] = 0xFF;   // PendingActivateSlot
  PutU32(&answer[16], 512);
  PutU32(&answer[20], 131072);
  answer[24 + 8] = 0;  // slot 0, read-only
  answer[24 + 9] = 1;
  std::copy_n("FW01    ", 8, reinterpret_cast<char*>(&answer[24 + 16]));
  answer[56 + 8] = 1;  // slot 1, writable
  std::copy_n("FW02", 4, reinterpret_cast<char*>(&answer[56 + 16]));
  const auto info = ReadFirmwareInfo(answer);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->onThisSystem);
  EXPECT_TRUE(info->supportUpgrade);
  EXPECT_EQ(info->activeSlot, 1);
  EXPECT_EQ(info->pendingSlot, 0xFF);
  EXPECT_EQ(info->alignment, 512u);
  EXPECT_EQ(info->maxPiece, 131072u);
  ASSERT_EQ(info->firmwareSlots.size(), 2u);
  EXPECT_TRUE(info->firmwareSlots[0].readOnly);
  EXPECT_EQ(info->firmwareSlots[0].revision, "FW01");
  EXPECT_EQ(info->firmwareSlots[1].revision, "FW02");
  EXPECT_EQ(info->WritableSlot(), 1);
  // Fewer bytes than the slots it counts.
  EXPECT_FALSE(ReadFirmwareInfo(std::span(answer).first(24 + 32)));
  EXPECT_FALSE(ReadFirmwareInfo(std::span(answer).first(20)));
}

// The bench's device I/O with the firmware interface of a driver as the
// stand-in answers it, over the same record calls as the Windows backend.
class StandInIo : public ForwardingDeviceIo {
 public:
  explicit StandInIo(DeviceIo& bench) : ForwardingDeviceIo(bench), driver(bench) {}
  std::string SystemMessageText(std::uint32_t code) override {
    return code == win32::ERROR_IO_DEVICE_ ? "I/O device error.\r\n" : "error text.\r\n";
  }
  bool HasFirmwareInterface() override { return true; }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle h) override {
    return GetFirmwareInfoIoctl(driver, h);
  }
  std::uint32_t FirmwareDownload(OsHandle h, const FirmwarePieceRequest& piece) override {
    return DownloadFirmwareIoctl(driver, h, piece);
  }
  std::uint32_t FirmwareActivate(OsHandle h, std::uint8_t slot) override {
    return ActivateFirmwareIoctl(driver, h, slot);
  }

  FirmwareDriverStandIn driver;
};

// A drive with offsets on a SATA disk, selected as the window selects it.
struct Rig {
  explicit Rig(const std::string& more = {}) : bench(Load(more)), io(bench->Io()) {}

  void Select() {
    TST_PhysicalDrive drive{};
    drive.DevicePath = "sim:sata";
    drive.BusType = 11;  // SATA
    ASSERT_EQ(SelectDriveTarget(ctx.transport, drive), Selected::ready);
    host.log.clear();
  }
  UpdateReport Update(std::uint8_t mode, FirmwareVia via, std::uint32_t blocks = 300) {
    if (mode != kDlmcActivate) {
      host.dialogAnswers.push_back(files.File("fw.bin", sim::MakeBenchFirmware("NEW", blocks)));
    }
    UpdateRequest request;
    request.mode = mode;
    request.via = via;
    request.devicePath = "sim:sata";
    request.queueBytes = 0x20000;
    return RunUpdate(update, request);
  }
  std::size_t DriveDownloads() const {
    const auto& h = bench->Drive("d")->History();
    return static_cast<std::size_t>(
        std::count_if(h.begin(), h.end(), [](const auto& c) { return c.command == 0x92; }));
  }

  static std::unique_ptr<sim::Bench> Load(const std::string& more) {
    sim::BenchLoad load = sim::Bench::FromText(
        "[drive d]\nmodel = ST1000DM003-1CH162\nfirmware = BF1.00\ndlmc-offsets = yes\n" + more +
        "[disk]\npath = sim:sata\ndrive = d\n");
    EXPECT_TRUE(load.bench) << load.error;
    return std::move(load.bench);
  }

  std::unique_ptr<sim::Bench> bench;
  StandInIo io;
  TransportState state;
  brisquel::test::FakeOperationHost host{state.BreakFlag};
  OperationContext ctx{state, bench->Ports(), io, host};
  brisquel::test::FakeUpdateQuestions questions;
  UpdateContext update{ctx, questions, bench->Users(), bench->Clock()};
  brisquel::test::OpsBench files{TransportKind::pio};  // for its scratch folder
};

const char* const kThrough = "Through Windows' firmware interface";

// The interface and pass-through give the same lines, the interface's after
// its own; 0E goes in pieces of the segment size with the first and last
// flagged, 0F to the same slot, and the revision changes.
TEST(FirmwareInterface, DeferredThenActivateGoThroughTheInterfaceWithThePassThroughsLines) {
  Rig r;
  r.Select();
  EXPECT_TRUE(r.state.FirmwareInterface.onThisSystem);
  const UpdateReport deferred = r.Update(kDlmcDeferred, FirmwareVia::automatic);
  ASSERT_TRUE(deferred.download.Completed()) << deferred.download.what;
  EXPECT_TRUE(deferred.throughInterface);
  const std::vector<std::string> calls = {
      "GET_INFO -> 0",
      "DOWNLOAD slot 1 offset 0 bytes 32768 flags 4 -> 0",
      "DOWNLOAD slot 1 offset 32768 bytes 32768 flags 0 -> 0",
      "DOWNLOAD slot 1 offset 65536 bytes 32768 flags 0 -> 0",
      "DOWNLOAD slot 1 offset 98304 bytes 32768 flags 0 -> 0",
      "DOWNLOAD slot 1 offset 131072 bytes 22528 flags 2 -> 0",
  };
  EXPECT_EQ(r.io.driver.calls, calls);
  const std::vector<std::string> interfaceLog = r.host.log;
  EXPECT_EQ(r.host.progress.back(), 300u);

  const UpdateReport activated = r.Update(kDlmcActivate, FirmwareVia::automatic);
  ASSERT_TRUE(activated.download.Completed()) << activated.download.what;
  EXPECT_EQ(r.io.driver.calls.back(), "ACTIVATE slot 1 -> 0");
  EXPECT_EQ(r.host.log.back(), kThrough);
  EXPECT_EQ(*activated.revisionAfter, "NEW");

  // The same over pass-through, by hand.
  Rig p;
  p.Select();
  const UpdateReport passed = p.Update(kDlmcDeferred, FirmwareVia::passThrough);
  ASSERT_TRUE(passed.download.Completed());
  EXPECT_FALSE(passed.throughInterface);
  EXPECT_EQ(p.io.driver.calls.size(), 1u);  // GET_INFO at selection only
  ASSERT_EQ(interfaceLog.size(), p.host.log.size() + 1);
  EXPECT_EQ(interfaceLog[1], kThrough);  // after "Vendor unlock left out"
  std::vector<std::string> without = interfaceLog;
  without.erase(without.begin() + 1);
  EXPECT_EQ(without, p.host.log);
}

// Where the driver cannot carry it, the download goes over pass-through
// unasked; asked for by name, it is refused before anything is sent.
TEST(FirmwareInterface, WhatTheDriverCannotCarryGoesOverPassThroughOrIsRefusedWhenNamed) {
  struct Case {
    const char* what;
    std::function<void(FirmwareDriverStandIn&)> driver;
    std::uint32_t blocks;
    const char* refusal;  // with --via system
  };
  const Case cases[] = {
      {"GET_INFO unsupported", [](auto& d) { d.getInfoError = 1; }, 300,
       "the disk's driver does not offer it"},
      {"no upgrade", [](auto& d) { d.getInfoError = 50; }, 300,
       "the disk's driver says the drive cannot take firmware through it"},
      {"SupportUpgrade clear", [](auto& d) { d.info.supportUpgrade = false; }, 300,
       "the disk's driver says the drive cannot take firmware through it"},
      {"read-only slot", [](auto& d) { d.info.firmwareSlots[0].readOnly = true; }, 300,
       "every firmware slot the driver lists is read-only"},
      {"image off the alignment", [](auto& d) { d.info.alignment = 4096; }, 300,
       "the image's 153600 bytes do not go in pieces of 4096-byte multiples of at most 32768 "
       "bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const FirmwareVia via : {FirmwareVia::automatic, FirmwareVia::system}) {
      Rig r;
      c.driver(r.io.driver);
      r.Select();
      const UpdateReport report = r.Update(kDlmcDeferred, via, c.blocks);
      EXPECT_FALSE(report.throughInterface);
      EXPECT_EQ(std::find(r.host.log.begin(), r.host.log.end(), kThrough), r.host.log.end());
      if (via == FirmwareVia::automatic) {
        EXPECT_TRUE(report.download.Completed()) << report.download.what;
        EXPECT_EQ(r.DriveDownloads(), 5u);  // five segments of 64 blocks, over pass-through
        continue;
      }
      EXPECT_EQ(report.download.result, DownloadOutcome::Result::refused);
      EXPECT_EQ(report.interfaceRefusal,
                std::string("Windows' firmware interface cannot carry it: ") + c.refusal);
      EXPECT_EQ(r.DriveDownloads(), 0u);
    }
  }
}

TEST(FirmwareInterface, AnOlderDriverGetsTheFirstPieceAgainWithoutItsFlag) {
  Rig r;
  r.io.driver.refusesFirstSegmentFlag = true;
  r.Select();
  const UpdateReport report = r.Update(kDlmcDeferred, FirmwareVia::automatic, 64);
  ASSERT_TRUE(report.download.Completed()) << report.download.what;
  const std::vector<std::string> calls = {
      "GET_INFO -> 0",
      "DOWNLOAD slot 1 offset 0 bytes 32768 flags 6 -> 87",
      "DOWNLOAD slot 1 offset 0 bytes 32768 flags 2 -> 0",
  };
  EXPECT_EQ(r.io.driver.calls, calls);
}

// A piece the drive aborts ends the download FAILED, and nothing is sent
// again over pass-through.
TEST(FirmwareInterface, AFailurePartwayEndsFailedAndIsNeverResentOverPassThrough) {
  Rig r("abort-command = 92\n");
  r.Select();
  const UpdateReport report = r.Update(kDlmcDeferred, FirmwareVia::automatic);
  EXPECT_TRUE(report.throughInterface);
  EXPECT_EQ(report.download.result, DownloadOutcome::Result::refusedBySystem);
  EXPECT_EQ(r.host.log.back(),
            "Download Microcode 0E - fw.bin - FAILED: the system refused "
            "IOCTL_STORAGE_FIRMWARE_DOWNLOAD: I/O device error (0 of 300 blocks sent)");
  EXPECT_EQ(r.DriveDownloads(), 1u);  // the one the driver sent
}

// 0F through the interface tells the storage stack: the system disk's second
// question is not asked; over pass-through it is.
TEST(FirmwareInterface, TheSystemDiskTakesAnActivationThroughTheInterface) {
  for (const FirmwareVia via : {FirmwareVia::automatic, FirmwareVia::passThrough}) {
    Rig r;
    r.bench->Disks().Disks()[0].inUse = "C:\\ is on this disk (the Windows volume)";
    r.bench->Disks().Disks()[0].system = RunningSystem::windows;
    r.questions.sendAnyway = true;
    r.Select();
    r.Update(kDlmcDeferred, FirmwareVia::automatic);
    const UpdateReport report = r.Update(kDlmcActivate, via);
    if (via == FirmwareVia::automatic) {
      EXPECT_TRUE(r.questions.systemDiskAsked.empty());
      EXPECT_TRUE(report.download.Completed()) << report.download.what;
    } else {
      EXPECT_EQ(r.questions.systemDiskAsked.size(), 1u);
      EXPECT_EQ(report.download.result, DownloadOutcome::Result::refused);
    }
  }
}

}  // namespace
}  // namespace brisquel::winpt::test
