#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sim/Bench.h"
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
  NvmeAdminRequest commit;
  commit.opcode = kNvmeFirmwareCommit;
  const Case cases[] = {
      {"another CNS", namespaceId, {}, {0, 0x02, true}},
      {"another log", otherLog, {}, {1, 0x09, true}},
      {"firmware commit", commit, {}, {0, 0x01, true}},
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

}  // namespace
}  // namespace brisquel::sim
