#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimDeviceIo.h"

namespace brisquel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kStatusOk = 0x50;     // DRDY DSC
constexpr std::uint8_t kStatusAbort = 0x41;  // DRDY ERR: an abort leaves DSC clear
constexpr std::uint8_t kErrorAbrt = 0x04;

const AtaTaskFile kIdentifyRegs{.count = 1, .device = 0xA0, .command = 0xEC};
const AtaTaskFile kFlushRegs{.device = 0xA0, .command = 0xE7};

SatCdb Cdb(const Bytes& bytes) {
  SatCdb cdb;
  std::copy(bytes.begin(), bytes.end(), cdb.bytes.begin());
  cdb.length = static_cast<std::uint8_t>(bytes.size());
  return cdb;
}

const Bytes kIdentify12 = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC};
const Bytes kIdentify16 = {0x85, 0x09, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0};

std::string ModelOf(const Bytes& sector) {
  std::string model;
  for (int word = 27; word < 47; ++word) {
    model += static_cast<char>(sector[2 * word + 1]);
    model += static_cast<char>(sector[2 * word]);
  }
  return model.substr(0, model.find_last_not_of(' ') + 1);
}

class DeviceIoTest : public ::testing::Test {
 protected:
  DeviceIoTest() {
    io.AddPath("sata", {sata, nullptr, false});
    io.AddPath("usb", {usb, std::make_shared<UsbBridge>(), false});
    io.AddPath("locked", {sata, nullptr, true});
  }
  OsHandle Open(const std::string& path) {
    return io.CreateFileA(path, GENERIC_ALL_, FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_,
                          FILE_ATTRIBUTE_NORMAL_);
  }
  AtaAnswer Ata(OsHandle h, const AtaTaskFile& regs, DataDirection dir = DataDirection::none,
                std::span<std::uint8_t> data = {}) {
    return io.AtaPassThrough(h, {regs, dir, data, 5, false});
  }
  ScsiAnswer Scsi(OsHandle h, const Bytes& cdb, DataDirection dir = DataDirection::none,
                  std::span<std::uint8_t> data = {}) {
    return io.ScsiPassThrough(h, {Cdb(cdb), dir, data, 5});
  }

  std::shared_ptr<AtaDrive> sata =
      std::make_shared<AtaDrive>(DriveIdentity{"BENCH SATA DISK", "S1.0", "SATA001"});
  std::shared_ptr<AtaDrive> usb =
      std::make_shared<AtaDrive>(DriveIdentity{"BENCH USB DISK", "U1.0", "USB001"});
  SimDeviceIo io;
};

TEST_F(DeviceIoTest, OpensClosesAndNamesItsErrorsAsWindowsDoes) {
  EXPECT_EQ(Open("nowhere"), kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_FILE_NOT_FOUND_);
  EXPECT_EQ(Open("locked"), kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_ACCESS_DENIED_);
  const OsHandle a = Open("sata");
  const OsHandle b = Open("sata");
  ASSERT_NE(a, kInvalidHandle);
  EXPECT_NE(a, kNeverOpened);
  EXPECT_NE(a, b);
  EXPECT_EQ(io.OpenHandleCount(), 2u);
  EXPECT_EQ(io.Opens().back().access, GENERIC_ALL_);

  EXPECT_TRUE(io.CloseHandle(a));
  for (OsHandle gone : {a, kNeverOpened, kInvalidHandle}) {
    EXPECT_FALSE(io.CloseHandle(gone));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_HANDLE_);
    const AtaAnswer answer = Ata(gone, kFlushRegs);
    EXPECT_FALSE(answer.delivered);
    EXPECT_EQ(answer.systemError, win32::ERROR_INVALID_HANDLE_);
  }
  io.Unplug("sata");
  EXPECT_EQ(Ata(b, kFlushRegs).systemError, win32::ERROR_DEVICE_NOT_CONNECTED_);
  EXPECT_EQ(Open("sata"), kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_FILE_NOT_FOUND_);
}

TEST_F(DeviceIoTest, AtaIdentifyReturnsTheSectorAndTheRegisters) {
  Bytes sector(512);
  const AtaAnswer answer = Ata(Open("sata"), kIdentifyRegs, DataDirection::in, sector);
  ASSERT_TRUE(answer.delivered);
  EXPECT_TRUE(answer.registersReturned);
  EXPECT_EQ(answer.returned.command, kStatusOk);
  EXPECT_EQ(answer.returned.features, 0);
  EXPECT_EQ(answer.bytesMoved, 512u);
  EXPECT_EQ(ModelOf(sector), "BENCH SATA DISK");
  ASSERT_EQ(sata->History().size(), 1u);
  EXPECT_EQ(sata->History()[0].dataWordsOut, 256u);
}

TEST_F(DeviceIoTest, AtaCommandsRunThroughTheRegisters) {
  const OsHandle h = Open("sata");
  // 48-bit: the previous bytes reach the drive before the current ones.
  const AtaTaskFile flush{0x11, 0x22, 0x33, 0x44, 0x55, 0xA0, 0xE7, 1, 2, 3, 4, 5};
  const AtaAnswer flushed = Ata(h, flush);
  EXPECT_EQ(flushed.returned.command, kStatusOk);
  EXPECT_EQ(flushed.returned.lbaHighPrev, 5) << "the previous bytes go back as they came";
  const auto& r = sata->History().back();
  EXPECT_EQ((std::array{r.featuresPrev, r.countPrev, r.lbaLowPrev, r.lbaMidPrev, r.lbaHighPrev}),
            (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
  EXPECT_EQ((std::array{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh}),
            (std::array<std::uint8_t, 5>{0x11, 0x22, 0x33, 0x44, 0x55}));

  // Data-out: a whole firmware image by DOWNLOAD MICROCODE mode 07.
  Bytes image = MakeBenchFirmware("ATA07", 3);
  const AtaTaskFile download{.features = 0x07, .count = 3, .device = 0xA0, .command = 0x92};
  EXPECT_EQ(Ata(h, download, DataDirection::out, image).returned.command, kStatusOk);
  EXPECT_EQ(sata->FirmwareRevision(), "ATA07");
  EXPECT_EQ(sata->History().back().dataWordsIn, 3u * 256u);

  // A command the drive aborts still completes the request, with ERR and ABRT,
  // and the data it did not send reads as zeros.
  sata->Faults().abortCommand = 0xEC;
  Bytes sector(512, 0x33);
  const AtaAnswer identify = Ata(h, kIdentifyRegs, DataDirection::in, sector);
  ASSERT_TRUE(identify.delivered);
  EXPECT_EQ(identify.returned.command, kStatusAbort);
  EXPECT_EQ(identify.returned.features, kErrorAbrt);
  EXPECT_EQ(sector, Bytes(512, 0));
}

TEST_F(DeviceIoTest, RequestsASystemWouldRefuseAreRefusedUnsent) {
  const OsHandle sataHandle = Open("sata");
  const OsHandle usbHandle = Open("usb");
  Bytes sector(512);
  EXPECT_EQ(Ata(sataHandle, kIdentifyRegs, DataDirection::none, sector).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(Ata(sataHandle, kIdentifyRegs, DataDirection::in).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(Scsi(usbHandle, kIdentify12, DataDirection::none, sector).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(Scsi(usbHandle, {}, DataDirection::in, sector).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_TRUE(sata->History().empty());
  EXPECT_TRUE(usb->History().empty());
}

// The system takes no more than the disk's largest transfer in one command
// (Linux's queue, Windows' adapter): a larger one never reaches the drive.
TEST_F(DeviceIoTest, ATransferLargerThanTheDisksLimitIsRefusedUnsent) {
  io.AddPath("sata-1k", {.drive = sata, .bridge = nullptr, .maxTransfer = 1024});
  io.AddPath("usb-1k",
             {.drive = usb, .bridge = std::make_shared<UsbBridge>(), .maxTransfer = 1024});
  struct Case {
    const char* path;
    std::size_t bytes;
    bool delivered;
  };
  for (const Case& c :
       {Case{"sata-1k", 512, true}, Case{"sata-1k", 1024, true}, Case{"sata-1k", 1536, false},
        Case{"usb-1k", 512, true}, Case{"usb-1k", 1536, false}}) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.bytes));
    AtaDrive& drive = c.path[0] == 's' ? *sata : *usb;
    const std::size_t before = drive.History().size();
    Bytes data(c.bytes);
    const OsHandle h = Open(c.path);
    if (c.path[0] == 's') {
      const AtaTaskFile download{.features = 0x07,
                                 .count = static_cast<std::uint8_t>(c.bytes / 512),
                                 .device = 0xA0,
                                 .command = 0x92};
      const AtaAnswer answer = c.bytes == 512 ? Ata(h, kIdentifyRegs, DataDirection::in, data)
                                              : Ata(h, download, DataDirection::out, data);
      EXPECT_EQ(answer.delivered, c.delivered);
      EXPECT_EQ(answer.systemError, c.delivered ? 0u : win32::ERROR_INVALID_PARAMETER_);
    } else {
      const ScsiAnswer answer = Scsi(h, kIdentify12, DataDirection::in, data);
      EXPECT_EQ(answer.delivered, c.delivered);
      EXPECT_EQ(answer.systemError, c.delivered ? 0u : win32::ERROR_INVALID_PARAMETER_);
    }
    EXPECT_EQ(drive.History().size(), before + (c.delivered ? 1 : 0));
  }
}

TEST_F(DeviceIoTest, AtaTimeOutsAndBrokenDataPhasesFailAndTheDriveRecovers) {
  const OsHandle h = Open("sata");
  sata->Faults().stayBusy = true;
  EXPECT_EQ(Ata(h, kFlushRegs).systemError, win32::ERROR_SEM_TIMEOUT_);
  sata->Faults().stayBusy = false;

  // IDENTIFY sent as non-data: the drive offers a sector nobody takes.
  EXPECT_EQ(Ata(h, kIdentifyRegs).systemError, win32::ERROR_IO_DEVICE_);
  // A data-out shorter than the drive asks for.
  Bytes two(2 * 512);
  const AtaTaskFile download{.features = 0x07, .count = 3, .device = 0xA0, .command = 0x92};
  EXPECT_EQ(Ata(h, download, DataDirection::out, two).systemError, win32::ERROR_IO_DEVICE_);

  Bytes sector(512);
  EXPECT_EQ(Ata(h, kIdentifyRegs, DataDirection::in, sector).returned.command, kStatusOk);
  EXPECT_EQ(ModelOf(sector), "BENCH SATA DISK");
}

TEST_F(DeviceIoTest, AtaPassThroughIsRefusedForADriveBehindAUsbBridge) {
  Bytes sector(512);
  EXPECT_EQ(Ata(Open("usb"), kIdentifyRegs, DataDirection::in, sector).systemError,
            win32::ERROR_INVALID_FUNCTION_);
  BridgeBehaviour notSupported;
  notSupported.ataIoctlError = win32::ERROR_NOT_SUPPORTED_;
  io.AddPath("usb2", {usb, std::make_shared<UsbBridge>(notSupported), false});
  EXPECT_EQ(Ata(Open("usb2"), kIdentifyRegs, DataDirection::in, sector).systemError,
            win32::ERROR_NOT_SUPPORTED_);
  EXPECT_TRUE(usb->History().empty());
}

TEST_F(DeviceIoTest, ScsiIdentifyThroughTheBridgeInBothForms) {
  const OsHandle h = Open("usb");
  for (const Bytes& cdb : {kIdentify12, kIdentify16}) {
    Bytes sector(512);
    const ScsiAnswer answer = Scsi(h, cdb, DataDirection::in, sector);
    ASSERT_TRUE(answer.delivered);
    EXPECT_EQ(answer.scsiStatus, kScsiGood);
    EXPECT_TRUE(answer.sense.empty());
    EXPECT_EQ(ModelOf(sector), "BENCH USB DISK");
    EXPECT_EQ(answer.bytesMoved, 512u);
  }
  // A disk without a bridge answers through the system's own translation.
  Bytes sector(512);
  ASSERT_TRUE(Scsi(Open("sata"), kIdentify12, DataDirection::in, sector).delivered);
  EXPECT_EQ(ModelOf(sector), "BENCH SATA DISK");
}

TEST_F(DeviceIoTest, ScsiDataOutAndTheDrivesErrorsComeBackAsSense) {
  const OsHandle h = Open("usb");
  Bytes image = MakeBenchFirmware("USB07", 2);
  EXPECT_EQ(Scsi(h, {0xA1, 0x0A, 0x06, 0x07, 2, 0, 0, 0, 0xA0, 0x92}, DataDirection::out, image)
                .scsiStatus,
            kScsiGood);
  EXPECT_EQ(usb->FirmwareRevision(), "USB07");

  // Aborted: fixed format, ABORTED COMMAND, error/status/device/count in INFORMATION.
  usb->Faults().abortCommand = 0xEC;
  Bytes sector(512);
  const ScsiAnswer identify = Scsi(h, kIdentify12, DataDirection::in, sector);
  EXPECT_EQ(identify.scsiStatus, kScsiCheckCondition);
  ASSERT_GE(identify.sense.size(), 18u);
  const Bytes& sense = identify.sense;
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], scsi::kAbortedCommand);
  EXPECT_EQ(sense[3], kErrorAbrt);
  EXPECT_EQ(sense[4], kStatusAbort);
  EXPECT_EQ(sense[5], 0xA0);
  EXPECT_EQ((Bytes{sense[7], sense[12], sense[13]}), (Bytes{10, 0, 0}));
  usb->Faults().abortCommand.reset();

  // CK_COND on success: descriptor format with the ATA Status Return descriptor.
  const ScsiAnswer check = Scsi(h, {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7});
  EXPECT_EQ(check.scsiStatus, kScsiCheckCondition);
  EXPECT_EQ(check.sense, (Bytes{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0,
                                0,    0,    0,    0,    0, 0, 0, 0,  0,    0xA0, kStatusOk}));

  // A field the translation refuses never reaches the drive.
  const std::size_t commands = usb->History().size();
  const ScsiAnswer bad =
      Scsi(h, {0xA1, 0x08, 0x08, 0, 1, 0, 0, 0, 0xA0, 0xEC}, DataDirection::in, sector);
  EXPECT_EQ(bad.scsiStatus, kScsiCheckCondition);
  EXPECT_EQ(bad.sense, RejectionSense({scsi::kIllegalRequest, 0x24, 0, 2}));
  EXPECT_EQ(usb->History().size(), commands);
}

TEST_F(DeviceIoTest, BridgesThatRefuseAFormOrIgnoreCkCond) {
  struct Case {
    const char* what;
    BridgeBehaviour behaviour;
    Bytes cdb;
    std::uint8_t status;
    Bytes sense;
  };
  BridgeBehaviour only12;
  only12.accepts16 = false;
  BridgeBehaviour deaf;
  deaf.honoursCkCond = false;
  const Bytes invalidOpcode = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};
  const Bytes none;
  const Bytes ckCondFlush = {0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7};
  const Case cases[] = {
      {"refusing bridge, 12-byte form", RefusingBridge(), ckCondFlush, 2, invalidOpcode},
      {"refusing bridge, 16-byte form",
       RefusingBridge(),
       {0x85, 0x07, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7, 0},
       2,
       invalidOpcode},
      {"12-byte-only bridge, 16-byte form",
       only12,
       {0x85, 0x07, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7, 0},
       2,
       invalidOpcode},
      {"12-byte-only bridge, 12-byte form",
       only12,
       {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7},
       0,
       none},
      {"bridge that ignores CK_COND", deaf, ckCondFlush, 0, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto drive = std::make_shared<AtaDrive>();
    io.AddPath(c.what, {drive, std::make_shared<UsbBridge>(c.behaviour), false});
    const ScsiAnswer answer = Scsi(Open(c.what), c.cdb);
    ASSERT_TRUE(answer.delivered);
    EXPECT_EQ(answer.scsiStatus, c.status);
    EXPECT_EQ(answer.sense, c.sense);
    EXPECT_EQ(drive->History().size(), c.status == 0 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace brisquel::sim
