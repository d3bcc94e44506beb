#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "sim/Bench.h"
#include "sim/BenchFirmware.h"
#include "sim/NvmeController.h"
#include "transport/NvmeCommands.h"

namespace brisquel::sim {
namespace {

std::string Ascii(const std::array<std::uint8_t, kNvmeIdentifyBytes>& d, std::size_t at,
                  std::size_t n) {
  return std::string(d.begin() + at, d.begin() + at + n);
}

NvmeIdentity ThreeSlots() {
  NvmeIdentity id;
  id.model = "M";
  id.serial = "S1";
  id.slotCount = 3;
  id.slotRevisions = {"A1", "", "C3"};
  id.activeSlot = 3;
  id.nextSlot = 1;
  id.slot1ReadOnly = true;
  id.activateWithoutReset = true;
  id.fwug = 2;
  id.mdts = 6;
  id.mtfa = 0x0132;
  return id;
}

TEST(NvmeController, IdentifyAndTheSlotLogSayWhatTheControllerIs) {
  NvmeController c(ThreeSlots());
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  id.fill(0xEE);
  const NvmeAdminAnswer a = c.Execute(IdentifyControllerRequest(id));
  ASSERT_TRUE(a.status.ok());
  EXPECT_EQ(a.bytesMoved, kNvmeIdentifyBytes);
  EXPECT_EQ(Ascii(id, 4, 20), "S1                  ");
  EXPECT_EQ(Ascii(id, 24, 40), "M" + std::string(39, ' '));
  EXPECT_EQ(Ascii(id, 64, 8), "C3      ") << "the active slot's revision";
  EXPECT_EQ(id[77], 6);
  EXPECT_EQ(id[256], 0x04);  // OACS: firmware commands
  EXPECT_EQ(id[260], 0x01 | 3 << 1 | 0x10);
  EXPECT_EQ(id[270], 0x32);
  EXPECT_EQ(id[271], 0x01);
  EXPECT_EQ(id[319], 2);
  EXPECT_EQ(id[4095], 0) << "the rest is zeros";

  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
  ASSERT_TRUE(c.Execute(FirmwareSlotLogRequest(log)).status.ok());
  EXPECT_EQ(log[0], 0x13);  // active 3, next 1
  EXPECT_EQ(std::string(log.begin() + 8, log.begin() + 16), "A1      ");
  EXPECT_EQ(std::string(log.begin() + 16, log.begin() + 24), std::string(8, '\0'))
      << "an empty slot";
  EXPECT_EQ(std::string(log.begin() + 24, log.begin() + 32), "C3      ");
  EXPECT_EQ(log[32], 0) << "no slot 4";
  EXPECT_EQ(c.History(), (std::vector<std::uint8_t>{0x06, 0x02}));
}

TEST(NvmeController, RefusesWhatItDoesNotTakeAndTheCommandItIsToldTo) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  struct Case {
    const char* what;
    NvmeAdminRequest request;
    std::optional<std::uint8_t> refuse;
    NvmeStatus status;
  };
  NvmeAdminRequest namespaceId = IdentifyControllerRequest(id);
  namespaceId.cdw[0] = 0;  // CNS 00h: a namespace
  NvmeAdminRequest otherLog = IdentifyControllerRequest(id);
  otherLog.opcode = kNvmeGetLogPage;
  otherLog.cdw[0] = 0x02;  // SMART / health
  NvmeAdminRequest format;
  format.opcode = 0x80;  // Format NVM, which the bench does not have
  const Case cases[] = {
      {"another CNS", namespaceId, {}, {0, 0x02, true}},
      {"another log", otherLog, {}, {1, 0x09, true}},
      {"format", format, {}, {0, 0x01, true}},
      {"told to refuse", IdentifyControllerRequest(id), 0x06, {1, 0x0B, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeController controller;
    controller.Faults().refuseOpcode = c.refuse;
    controller.Faults().refuseStatus = {1, 0x0B, false};
    const NvmeAdminAnswer a = controller.Execute(c.request);
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(a.bytesMoved, 0u);
  }
}

// Sends `image` in pieces of `piece` bytes; the first status that is not
// success, or success.
NvmeStatus Download(NvmeController& c, std::vector<std::uint8_t> image, std::size_t piece) {
  for (std::size_t at = 0; at < image.size(); at += piece) {
    const std::size_t n = std::min(piece, image.size() - at);
    const auto a = c.Execute(FirmwareImageDownloadRequest(
        std::span(image).subspan(at, n), static_cast<std::uint32_t>(at)));
    if (!a.status.ok()) return a.status;
  }
  return {};
}

TEST(NvmeController, CommitStoresActivatesOrRefusesAsItsActionAndSlotSay) {
  const NvmeStatus ok{};
  const NvmeStatus invalidSlot{1, 0x06, true}, invalidImage{1, 0x07, true};
  const NvmeStatus conventional{1, 0x0B, false};
  const auto image = MakeBenchFirmware("NEW1", 40);  // 20 KiB
  auto damaged = image;
  damaged[600] ^= 1;
  struct Case {
    const char* what;
    std::optional<std::vector<std::uint8_t>> sent;  // downloaded first
    int slot;
    std::uint8_t action;
    bool withoutReset;
    std::optional<NvmeStatus> refuseWith;  // the commit's fault
    NvmeStatus status;
    int active, next;  // afterwards; the controller starts at 3 and 1
    std::string slot2;
  };
  const Case cases[] = {
      {"store, at the next reset", image, 2, 1, false, {}, ok, 3, 2, "NEW1"},
      {"store only", image, 2, 0, false, {}, ok, 3, 1, "NEW1"},
      {"a slot's image at the next reset", {}, 3, 2, false, {}, ok, 3, 3, ""},
      {"store and run now", image, 2, 3, true, {}, ok, 2, 0, "NEW1"},
      {"now, where only a reset can", image, 2, 3, false, {}, conventional, 3, 2, "NEW1"},
      {"answered 10Bh", image, 2, 3, true, conventional, conventional, 3, 2, "NEW1"},
      {"answered 107h", image, 2, 1, false, invalidImage, invalidImage, 3, 1, ""},
      {"the read-only slot", image, 1, 1, false, {}, invalidSlot, 3, 1, ""},
      {"no such slot", image, 4, 1, false, {}, invalidSlot, 3, 1, ""},
      {"slot 0", image, 0, 1, false, {}, invalidSlot, 3, 1, ""},
      {"a damaged image", damaged, 2, 1, false, {}, invalidImage, 3, 1, ""},
      {"no image", {}, 2, 1, false, {}, invalidImage, 3, 1, ""},
      {"an empty slot at the next reset", {}, 2, 2, false, {}, invalidImage, 3, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeIdentity id = ThreeSlots();
    id.activateWithoutReset = c.withoutReset;
    NvmeController controller(id);
    if (c.refuseWith) {
      controller.Faults().refuseOpcode = kNvmeFirmwareCommit;
      controller.Faults().refuseStatus = *c.refuseWith;
    }
    if (c.sent) {
      ASSERT_EQ(Download(controller, *c.sent, 8192), ok);
    }
    const NvmeAdminAnswer a = controller.Execute(
        FirmwareCommitRequest(static_cast<std::uint8_t>(c.slot), c.action));
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(controller.Identity().activeSlot, c.active);
    EXPECT_EQ(controller.Identity().nextSlot, c.next);
    EXPECT_EQ(controller.Identity().slotRevisions[1], c.slot2);
  }

  // The next reset runs the slot marked for it.
  NvmeController c(ThreeSlots());
  ASSERT_EQ(Download(c, image, 8192), ok);
  ASSERT_EQ(c.Execute(FirmwareCommitRequest(2, 1)).status, ok);
  EXPECT_EQ(c.Revision(), "C3");
  c.PowerCycle();
  EXPECT_EQ(c.Revision(), "NEW1");
  EXPECT_EQ(c.Identity().nextSlot, 0);
}

TEST(NvmeController, ImagePiecesMustFollowOnTheGranularityWithinTheLargestTransfer) {
  const auto image = MakeBenchFirmware("NEW1", 1024);  // 512 KiB
  const NvmeStatus invalidField{0, 0x02, true};
  struct Case {
    const char* what;
    std::size_t offset, bytes;  // a second piece after 8 KiB at 0
    NvmeStatus status;
  };
  const Case cases[] = {
      {"the next piece", 8192, 8192, {}},
      {"the largest transfer", 8192, 256 * 1024, {}},
      {"above the largest transfer", 8192, 256 * 1024 + 4, invalidField},
      {"off the granularity", 8192 + 4096, 4096, invalidField},
      {"from the start again", 0, 8192, {}},
      {"a gap", 16384, 8192, invalidField},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NvmeController controller(ThreeSlots());
    auto first = image;
    ASSERT_TRUE(controller.Execute(FirmwareImageDownloadRequest(std::span(first).first(8192), 0))
                    .status.ok());
    EXPECT_EQ(controller
                  .Execute(FirmwareImageDownloadRequest(
                      std::span(first).subspan(c.offset, c.bytes), static_cast<std::uint32_t>(c.offset)))
                  .status,
              c.status);
  }
  // A second piece at an offset already sent overlaps it.
  NvmeIdentity any = ThreeSlots();
  any.fwug = kNvmeFwugAny;
  NvmeController c(any);
  auto bytes = image;
  ASSERT_TRUE(c.Execute(FirmwareImageDownloadRequest(std::span(bytes).first(8192), 0)).status.ok());
  EXPECT_EQ(c.Execute(FirmwareImageDownloadRequest(std::span(bytes).subspan(4096, 8192), 4096))
                .status,
            (NvmeStatus{1, 0x14, true}));
  // NUMD says another size than the data holds.
  NvmeAdminRequest wrong = FirmwareImageDownloadRequest(std::span(bytes).first(8192), 8192);
  wrong.cdw[0] = 8192 / 4;
  EXPECT_EQ(c.Execute(wrong).status, invalidField);
}

TEST(NvmeController, TheStateFileKeepsTheSlotsAndRefusesWhatDoesNotFit) {
  NvmeController c(ThreeSlots());
  const std::string saved = c.SaveFirmwareState();
  EXPECT_EQ(saved, "active = 3\nnext = 1\nslot1 = A1\nslot2 = \nslot3 = C3\n");
  NvmeController other(ThreeSlots());
  ASSERT_TRUE(other.LoadFirmwareState("active = 1\nnext = 0\nslot2 = B2\n"));
  EXPECT_EQ(other.Revision(), "A1");
  EXPECT_EQ(other.Identity().slotRevisions[1], "B2");
  EXPECT_EQ(other.Identity().nextSlot, 0);
  for (const char* bad : {"", "active = 0\n", "active = 4\n", "active = 1\nslot4 = X\n",
                          "active = 1\nslot1 = 123456789\n", "active = 1\nwhat = 1\n",
                          "active = 1\nslot1=A\n"}) {
    NvmeController untouched(ThreeSlots());
    EXPECT_FALSE(untouched.LoadFirmwareState(bad)) << bad;
    EXPECT_EQ(untouched.SaveFirmwareState(), saved) << "left as it was: " << bad;
  }
}

TEST(NvmeController, TheBenchReachesItOnlyThroughTheNvmeRequest) {
  auto bench = Bench::Default();
  SimDeviceIo& io = bench->Io();
  const OsHandle nvme = io.CreateFileA(DefaultDiskPath(3), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  const OsHandle sata = io.CreateFileA(DefaultDiskPath(0), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  ASSERT_NE(nvme, kInvalidHandle);
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  EXPECT_TRUE(io.NvmeAdmin(nvme, IdentifyControllerRequest(id)).status.ok());
  EXPECT_EQ(std::string(id.begin() + 64, id.begin() + 72), "211070WD");
  EXPECT_EQ(io.NvmeAdmin(sata, IdentifyControllerRequest(id)).systemError,
            win32::ERROR_NOT_SUPPORTED_);
  std::uint8_t sector[512];
  const AtaAnswer ata = io.AtaPassThrough(
      nvme, {.regs = {.device = 0xA0, .command = 0xEC}, .direction = DataDirection::in,
             .data = sector});
  EXPECT_FALSE(ata.delivered);
  EXPECT_EQ(ata.systemError, win32::ERROR_NOT_SUPPORTED_);
  EXPECT_EQ(bench->Nvme("nvme0")->History().size(), 1u);
}

// The system takes no more than the disk's largest transfer in one command,
// an NVMe admin command too: a larger piece never reaches the controller.
TEST(NvmeController, APieceLargerThanTheDisksLimitIsRefusedUnsent) {
  const BenchLoad load =
      Bench::FromText("[nvme n]\nmdts = 0\n[disk]\nnvme = n\nbus = NVMe\nmax-transfer = 8192\n");
  ASSERT_TRUE(load.bench) << load.error;
  SimDeviceIo& io = load.bench->Io();
  const OsHandle h = io.CreateFileA(DefaultDiskPath(0), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  ASSERT_NE(h, kInvalidHandle);
  for (const std::size_t bytes : {8192u, 12288u}) {
    SCOPED_TRACE(bytes);
    std::vector<std::uint8_t> piece(bytes);
    const NvmeAdminAnswer a = io.NvmeAdmin(h, FirmwareImageDownloadRequest(piece, 0));
    EXPECT_EQ(a.delivered, bytes == 8192);
    EXPECT_EQ(a.systemError, bytes == 8192 ? 0u : win32::ERROR_INVALID_PARAMETER_);
  }
  EXPECT_EQ(load.bench->Nvme("n")->History().size(), 1u);
}

}  // namespace
}  // namespace brisquel::sim
