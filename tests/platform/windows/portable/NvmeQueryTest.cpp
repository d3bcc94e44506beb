// NVMe Identify and the slot log on Windows: the protocol-specific query byte
// by byte, the answer's reading, and the same reads through a stand-in for the
// NVMe driver backed by a bench controller, which must give what the bench
// gives when asked directly (as on Linux), with the firmware interface's slots
// beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <functional>
#include <tuple>

#include "ops/FakeOperationHost.h"
#include "ops/Identify.h"
#include "ops/NvmeIdentity.h"
#include "ops/SystemFirmwareInterface.h"
#include "ops/OperationContext.h"
#include "platform/windows/portable/KeptNvmeDriver.h"
#include "platform/windows/portable/NvmeQuery.h"
#include "sim/Bench.h"
#include "sim/BenchFile.h"
#include "sim/NvmeController.h"
#include "sim/SimDiskEnumerator.h"
#include "discovery/uSetupApiEnum.h"
#include "transport/Bytes.h"
#include "transport/NvmeCommands.h"
#include "ui/TargetSelection.h"

namespace brisquel::winpt::test {
namespace {

TEST(NvmeQuery, IdentifyAndTheSlotLogAskForWhatTheCommandsAsk) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  const auto identify = NvmeQueryBytes(IdentifyControllerRequest(id));
  ASSERT_TRUE(identify);
  ASSERT_EQ(identify->size(), 48u + 4096u);
  EXPECT_EQ(GetU32(&(*identify)[0]), 49u);    // StorageAdapterProtocolSpecificProperty
  EXPECT_EQ(GetU32(&(*identify)[4]), 0u);     // PropertyStandardQuery
  EXPECT_EQ(GetU32(&(*identify)[8]), 3u);     // ProtocolTypeNvme
  EXPECT_EQ(GetU32(&(*identify)[12]), 1u);    // NVMeDataTypeIdentify
  EXPECT_EQ(GetU32(&(*identify)[16]), 1u);    // CNS 01h
  EXPECT_EQ(GetU32(&(*identify)[20]), 0u);    // NSID
  EXPECT_EQ(GetU32(&(*identify)[24]), 40u);   // the data right after the record
  EXPECT_EQ(GetU32(&(*identify)[28]), 4096u);
  EXPECT_TRUE(std::all_of(identify->begin() + 32, identify->end(), [](auto b) { return b == 0; }));

  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
  const auto slots = NvmeQueryBytes(FirmwareSlotLogRequest(log));
  ASSERT_TRUE(slots);
  ASSERT_EQ(slots->size(), 48u + 512u);
  EXPECT_EQ(GetU32(&(*slots)[0]), 50u);  // StorageDeviceProtocolSpecificProperty
  EXPECT_EQ(GetU32(&(*slots)[8]), 3u);
  EXPECT_EQ(GetU32(&(*slots)[12]), 2u);  // NVMeDataTypeLogPage
  EXPECT_EQ(GetU32(&(*slots)[16]), 3u);  // LID 03h
  EXPECT_EQ(GetU32(&(*slots)[24]), 40u);
  EXPECT_EQ(GetU32(&(*slots)[28]), 512u);
  for (std::size_t at = 32; at < 48; at += 4) EXPECT_EQ(GetU32(&(*slots)[at]), 0u) << at;

  // A log read from an offset, with a log specific identifier, RAE and LSP:
  // each lands in its sub-value.
  std::vector<std::uint8_t> part(8);
  NvmeAdminRequest r = FirmwareSlotLogRequest(log);
  r.data = part;
  r.cdw[0] = 0x02 | 1u << 15 | 0x5u << 8 | 1u << 16;  // NUMDL 1: two dwords
  r.cdw[1] = 0xABCDu << 16;
  r.cdw[2] = 0x200;
  r.cdw[3] = 0x1;
  const auto offset = NvmeQueryBytes(r);
  ASSERT_TRUE(offset);
  EXPECT_EQ(GetU32(&(*offset)[16]), 2u);
  EXPECT_EQ(GetU32(&(*offset)[20]), 0x200u);  // offset, low
  EXPECT_EQ(GetU32(&(*offset)[28]), 8u);
  EXPECT_EQ(GetU32(&(*offset)[36]), 1u);       // offset, high
  EXPECT_EQ(GetU32(&(*offset)[40]), 0xABCDu);  // LSI
  EXPECT_EQ(GetU32(&(*offset)[44]), 1u | 5u << 1);
}

TEST(NvmeQuery, WhatTheQueryCannotCarryIsNotBuilt) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> buffer{};
  const std::span<std::uint8_t> data(buffer);
  const auto with = [&](std::function<void(NvmeAdminRequest&)> change) {
    NvmeAdminRequest r = IdentifyControllerRequest(buffer);
    change(r);
    return r;
  };
  const std::pair<const char*, NvmeAdminRequest> refused[] = {
      {"firmware commit", with([](NvmeAdminRequest& r) {
         r.opcode = kNvmeFirmwareCommit;
         r.direction = DataDirection::none;
         r.data = {};
       })},
      {"image download", with([](NvmeAdminRequest& r) {
         r.opcode = kNvmeFirmwareImageDownload;
         r.direction = DataDirection::out;
       })},
      {"identify without data", with([](NvmeAdminRequest& r) {
         r.direction = DataDirection::none;
         r.data = {};
       })},
      {"identify, data out", with([](NvmeAdminRequest& r) { r.direction = DataDirection::out; })},
      {"log longer than its data", with([&](NvmeAdminRequest& r) {
         r.opcode = kNvmeGetLogPage;
         r.cdw[0] = 3 | 1023u << 16;
         r.data = data.first(512);
       })},
      {"log shorter than its data", with([&](NvmeAdminRequest& r) {
         r.opcode = kNvmeGetLogPage;
         r.cdw[0] = 3 | 63u << 16;
         r.data = data.first(512);
       })},
  };
  for (const auto& [name, request] : refused) EXPECT_FALSE(NvmeQueryBytes(request)) << name;
}

std::vector<std::uint8_t> Answer(std::uint32_t version, std::uint32_t offset, std::uint32_t length,
                                 std::size_t size) {
  std::vector<std::uint8_t> a(size);
  PutU32(&a[0], version);
  PutU32(&a[4], version);
  PutU32(&a[8 + 16], offset);
  PutU32(&a[8 + 20], length);
  PutU32(&a[8 + 24], 0x12345678);
  for (std::size_t i = 48; i < size; ++i) a[i] = static_cast<std::uint8_t>(i);
  return a;
}

TEST(NvmeQuery, TheAnswersDescriptorPlacesTheDataAndIsRefusedWhenItMakesNoSense) {
  const auto good = Answer(48, 40, 16, 64);
  const auto read = ReadNvmeQueryAnswer(good);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->data.data(), good.data() + 48);
  EXPECT_EQ(read->data.size(), 16u);
  EXPECT_EQ(read->fixedReturnData, 0x12345678u);
  // A driver may leave room between the record and the data.
  const auto laterAnswer = Answer(48, 44, 8, 64);
  const auto later = ReadNvmeQueryAnswer(laterAnswer);
  ASSERT_TRUE(later);
  EXPECT_EQ(later->data[0], 52);

  const std::pair<const char*, std::vector<std::uint8_t>> bad[] = {
      {"another version", Answer(40, 40, 16, 64)},
      {"data past the end", Answer(48, 40, 17, 64)},
      {"data over the record", Answer(48, 36, 16, 64)},
      {"offset wraps", Answer(48, 0xFFFFFFF0u, 0x20, 64)},
      {"shorter than the descriptor", std::vector<std::uint8_t>(good.begin(), good.begin() + 47)},
  };
  for (const auto& [name, bytes] : bad) EXPECT_FALSE(ReadNvmeQueryAnswer(bytes)) << name;
}

// A driver that answers every call with what it was given.
class ScriptedIo : public IoControl {
 public:
  bool DeviceIoControl(OsHandle, std::uint32_t code, void*, std::uint32_t, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override {
    codes.push_back(code);
    if (error) return false;
    const std::size_t n = std::min<std::size_t>(outSize, answer.size());
    std::copy_n(answer.begin(), n, static_cast<std::uint8_t*>(out));
    *returned = static_cast<std::uint32_t>(n);
    return true;
  }
  std::uint32_t GetLastError() override { return error; }
  std::uint32_t error = 0;
  std::vector<std::uint8_t> answer;
  std::vector<std::uint32_t> codes;
};

TEST(NvmeQuery, TheAdminRequestAnswersWithTheDataTheDriversErrorOrARefusal) {
  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log;
  log.fill(0xEE);
  ScriptedIo io;
  io.answer = Answer(48, 40, 16, 48 + 512);  // fewer bytes than asked: the rest zeros
  NvmeAdminAnswer a = NvmeAdminThroughQuery(io, 7, FirmwareSlotLogRequest(log));
  EXPECT_TRUE(a.delivered);
  EXPECT_TRUE(a.status.ok());
  EXPECT_EQ(a.result, 0x12345678u);
  EXPECT_EQ(a.bytesMoved, 16u);
  EXPECT_EQ(log[0], 48);
  EXPECT_EQ(log[15], 63);
  EXPECT_EQ(log[16], 0);
  EXPECT_EQ(log[511], 0);
  EXPECT_EQ(io.codes, std::vector<std::uint32_t>{0x2D1400});

  io.error = win32::ERROR_INVALID_PARAMETER_;
  a = NvmeAdminThroughQuery(io, 7, FirmwareSlotLogRequest(log));
  EXPECT_FALSE(a.delivered);
  EXPECT_EQ(a.systemError, win32::ERROR_INVALID_PARAMETER_);

  io.error = 0;
  io.answer = Answer(40, 40, 16, 48 + 512);
  a = NvmeAdminThroughQuery(io, 7, FirmwareSlotLogRequest(log));
  EXPECT_FALSE(a.delivered);
  EXPECT_EQ(a.systemError, win32::ERROR_GEN_FAILURE_);

  // Firmware Commit never reaches the driver.
  NvmeAdminRequest commit;
  commit.opcode = kNvmeFirmwareCommit;
  io.codes.clear();
  a = NvmeAdminThroughQuery(io, 7, commit);
  EXPECT_FALSE(a.delivered);
  EXPECT_EQ(a.systemError, win32::ERROR_NOT_SUPPORTED_);
  EXPECT_TRUE(io.codes.empty());
}

// What the Windows build's bench tells its stand-in driver of each disk.
std::function<DriverDisk(OsHandle)> BenchDisks(sim::Bench& bench) {
  return [&bench](OsHandle h) {
    return DriverDisk{bench.Io().IsNvmeController(h), bench.Io().MaxTransfer(h)};
  };
}

// One bench read twice: directly, as Linux and the bench carry the commands,
// and through the stand-in driver.
struct Rig {
  explicit Rig(const std::string& controller) {
    sim::BenchLoad load = sim::Bench::FromText(
        controller + "[disk]\npath = sim:nvme\nnvme = n\nbus = NVMe\nmax-transfer = 0\n");
    EXPECT_TRUE(load.bench) << load.error;
    bench = std::move(load.bench);
    windows = std::make_unique<NvmeStandInIo>(bench->Io());
  }
  struct Read {
    Selected selected;
    std::vector<std::string> log;
    NvmeInfo info;
    FirmwareInterfaceInfo firmwareInterface;
  };
  Read On(DeviceIo& io) {
    TransportState state;
    brisquel::test::FakeOperationHost host{state.BreakFlag};
    OperationContext ctx{state, bench->Ports(), io, host};
    TST_PhysicalDrive drive{};
    drive.DevicePath = "sim:nvme";
    drive.BusType = kBusTypeNvme;
    Read read;
    read.selected = SelectDriveTarget(ctx.transport, drive);
    read.info = ReadNvmeInfo(ctx.transport);
    read.log = host.log;
    read.firmwareInterface = state.FirmwareInterface;
    return read;
  }
  std::unique_ptr<sim::Bench> bench;
  std::unique_ptr<NvmeStandInIo> windows;
};

void ExpectSameReads(const Rig::Read& direct, const Rig::Read& windows) {
  ASSERT_EQ(direct.selected, Selected::ready);
  ASSERT_EQ(windows.selected, Selected::ready);
  EXPECT_EQ(windows.log, direct.log);
  const IdentifyOutcome& a = direct.info.identity;
  const IdentifyOutcome& b = windows.info.identity;
  EXPECT_EQ(b.model, a.model);
  EXPECT_EQ(b.firmware, a.firmware);
  EXPECT_EQ(b.serial, a.serial);
  ASSERT_TRUE(direct.info.controller);
  ASSERT_TRUE(windows.info.controller);
  const NvmeControllerFacts& c = *direct.info.controller;
  const NvmeControllerFacts& d = *windows.info.controller;
  EXPECT_EQ(std::tie(d.model, d.serial, d.firmware, d.firmwareCommands, d.slot1ReadOnly, d.slotCount,
                     d.activateWithoutReset, d.fwug, d.mdts, d.mtfa),
            std::tie(c.model, c.serial, c.firmware, c.firmwareCommands, c.slot1ReadOnly, c.slotCount,
                     c.activateWithoutReset, c.fwug, c.mdts, c.mtfa));
  ASSERT_TRUE(direct.info.slots);
  ASSERT_TRUE(windows.info.slots);
  EXPECT_EQ(windows.info.slots->activeSlot, direct.info.slots->activeSlot);
  EXPECT_EQ(windows.info.slots->nextSlot, direct.info.slots->nextSlot);
  EXPECT_EQ(windows.info.slots->revisions, direct.info.slots->revisions);
}

TEST(NvmeThroughTheQuery, IdentifyAndTheSlotLogReadAsTheBenchReadsThemDirectly) {
  struct Case {
    const char* name;
    std::string controller;
    FirmwareInterfaceInfo expected;
  };
  const auto interface = [](bool upgrade, std::uint8_t active, std::uint8_t pending,
                            std::uint32_t alignment, std::uint32_t maxPiece,
                            std::vector<FirmwareSlotState> slots) {
    FirmwareInterfaceInfo i;
    i.onThisSystem = true;
    i.supportUpgrade = upgrade;
    i.activeSlot = active;
    i.pendingSlot = pending;
    i.alignment = alignment;
    i.maxPiece = maxPiece;
    i.firmwareSlots = std::move(slots);
    return i;
  };
  const Case cases[] = {
      {"two slots, slot 1 read-only, FWUG 8 KiB",
       "[nvme n]\nmodel = SIM NVMe 2\nserial = SN-2\nslots = 2\nslot1 = R1\nslot1-read-only = yes\n"
       "slot2 = W2\nactive-slot = 2\nfwug = 2\nmdts = 5\nmtfa = 50\n",
       interface(true, 2, 0xFF, 8192, 131072, {{1, true, "R1"}, {2, false, "W2"}})},
      {"one slot, nothing said of the granularity, no transfer limit",
       "[nvme n]\nmodel = SIM NVMe 1\nserial = SN-1\nslots = 1\nslot1 = 1.0\nfwug = 0\nmdts = 0\n",
       interface(true, 1, 0xFF, 4096, 1u << 20, {{1, false, "1.0"}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.controller);
    const Rig::Read direct = rig.On(rig.bench->Io());
    const Rig::Read windows = rig.On(*rig.windows);
    ExpectSameReads(direct, windows);
    // The Windows build's bench: the same driver, for the disks it serves.
    NvmeThroughDriverIo benchOnWindows(rig.bench->Io(), BenchDisks(*rig.bench));
    const Rig::Read bench = rig.On(benchOnWindows);
    ExpectSameReads(direct, bench);
    EXPECT_EQ(FirmwareInterfaceSummary(bench.firmwareInterface, TransportKind::nvme, benchOnWindows),
              FirmwareInterfaceSummary(windows.firmwareInterface, TransportKind::nvme, *rig.windows));
    EXPECT_EQ(rig.windows->driver.calls,
              (std::vector<std::string>{"GET_INFO -> 0", "QUERY identify 1 nsid 0 bytes 4096 -> 0",
                                        "QUERY log 3 nsid 0 bytes 512 -> 0"}));
    const FirmwareInterfaceInfo& f = windows.firmwareInterface;
    EXPECT_FALSE(direct.firmwareInterface.onThisSystem);
    EXPECT_TRUE(f.onThisSystem);
    EXPECT_EQ(f.systemError, 0u);
    EXPECT_EQ(f.supportUpgrade, c.expected.supportUpgrade);
    EXPECT_EQ(f.activeSlot, c.expected.activeSlot);
    EXPECT_EQ(f.pendingSlot, c.expected.pendingSlot);
    EXPECT_EQ(f.alignment, c.expected.alignment);
    EXPECT_EQ(f.maxPiece, c.expected.maxPiece);
    ASSERT_EQ(f.firmwareSlots.size(), c.expected.firmwareSlots.size());
    for (std::size_t i = 0; i < f.firmwareSlots.size(); ++i) {
      EXPECT_EQ(f.firmwareSlots[i].number, c.expected.firmwareSlots[i].number);
      EXPECT_EQ(f.firmwareSlots[i].readOnly, c.expected.firmwareSlots[i].readOnly);
      EXPECT_EQ(f.firmwareSlots[i].revision, c.expected.firmwareSlots[i].revision);
    }
  }
}

// The Windows build's bench offers the firmware interface on its NVMe disks
// only, its pieces held to the disk's largest transfer: any other disk's
// driver offers none there, and no NVMe command reaches it (a recording
// played back would take one for a command it never made).
TEST(NvmeThroughTheQuery, TheWindowsBenchsDriverServesItsNvmeDisksOnly) {
  struct Case {
    const char* what;
    sim::BenchLoad load;
    std::uint8_t bus;  // the first disk on it
    std::uint32_t error;
    std::uint32_t maxPiece;
  };
  std::ifstream file(BRISQUEL_TEST_DATA "/recordings/sata-identify.rec", std::ios::binary);
  const std::string recording{std::istreambuf_iterator<char>(file), {}};
  Case cases[] = {
      {"the default bench's NVMe disk", {sim::Bench::Default(), {}}, kBusTypeNvme, 0, 131072},
      {"an NVMe disk whose adapter takes less than its controller",
       sim::Bench::FromText("[nvme n]\nmdts = 0\n[disk]\nnvme = n\nbus = NVMe\nmax-transfer = 65536\n"),
       kBusTypeNvme, 0, 65536},
      {"the default bench's SATA disk", {sim::Bench::Default(), {}}, kBusTypeSata,
       win32::ERROR_INVALID_FUNCTION_, 0},
      {"a recorded SATA disk", sim::Bench::FromRecording(recording), kBusTypeSata,
       win32::ERROR_INVALID_FUNCTION_, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.load.bench) << c.load.error;
    sim::Bench& bench = *c.load.bench;
    NvmeThroughDriverIo io(bench.Io(), BenchDisks(bench));
    TransportState state;
    brisquel::test::FakeOperationHost host{state.BreakFlag};
    OperationContext ctx{state, bench.Ports(), io, host};
    const std::vector<sim::SimDisk>& disks = bench.Disks().Disks();
    const auto disk = std::find_if(disks.begin(), disks.end(), [&c](const sim::SimDisk& d) {
      return d.info.busType == c.bus;
    });
    ASSERT_NE(disk, disks.end());
    TST_PhysicalDrive drive{};
    drive.DevicePath = disk->info.devicePath;
    drive.BusType = disk->info.busType;
    ASSERT_EQ(SelectDriveTarget(ctx.transport, drive), Selected::ready);
    EXPECT_TRUE(state.FirmwareInterface.onThisSystem);
    EXPECT_EQ(state.FirmwareInterface.systemError, c.error);
    EXPECT_EQ(state.FirmwareInterface.maxPiece, c.maxPiece);
    EXPECT_TRUE(ReadIdentity(ctx.transport).Answered()) << "the disk still answers as before";
  }
}

// GET_INFO costs the controller one Identify and one slot log, nothing more.
TEST(NvmeThroughTheQuery, GetInfoReadsIdentifyAndTheSlotLogOnce) {
  const std::unique_ptr<sim::Bench> bench = sim::Bench::Default();
  NvmeThroughDriverIo io(bench->Io(), BenchDisks(*bench));
  const OsHandle h = io.CreateFileA(sim::DefaultDiskPath(3), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(io.FirmwareInterface(h).systemError, 0u);
  EXPECT_EQ(bench->Nvme("nvme0")->History(),
            (std::vector<std::uint8_t>{kNvmeIdentify, kNvmeGetLogPage}));
}

// A controller that refuses Identify: Linux sees its status; Windows sees only
// the driver's error, and says so in the same place.
TEST(NvmeThroughTheQuery, ARefusedIdentifyIsTheDriversErrorOnWindows) {
  Rig rig("[nvme n]\nmodel = SIM NVMe 1\nserial = SN-1\nrefuse-opcode = 06\nrefuse-status = 4002\n");
  const Rig::Read direct = rig.On(rig.bench->Io());
  const Rig::Read windows = rig.On(*rig.windows);
  EXPECT_EQ(direct.info.identity.command.end, CommandEnd::deviceError);
  EXPECT_EQ(windows.info.identity.command.end, CommandEnd::systemRefused);
  EXPECT_EQ(windows.info.identity.command.systemError, win32::ERROR_IO_DEVICE_);
  EXPECT_FALSE(windows.info.controller);
  EXPECT_FALSE(windows.info.identity.failure.empty());
  EXPECT_EQ(rig.windows->driver.calls.back(), "QUERY identify 1 nsid 0 bytes 4096 -> 1117");
}

}  // namespace
}  // namespace brisquel::winpt::test
