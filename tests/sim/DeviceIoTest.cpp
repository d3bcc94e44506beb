#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimDeviceIo.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kStatusOk = 0x50;     // DRDY DSC
constexpr std::uint8_t kStatusAbort = 0x41;  // DRDY ERR: an abort leaves DSC clear
constexpr std::uint8_t kErrorAbrt = 0x04;

// An ATA_PASS_THROUGH_EX block with its data area behind it, as the transport builds it.
struct AtaBlock {
  AtaBlock(std::uint16_t flags, std::array<std::uint8_t, 7> current, std::uint32_t length,
           std::array<std::uint8_t, 5> previous = {})
      : bytes(ataptx::kHeaderSize + length) {
    using namespace ataptx;
    PutU16(&bytes[kLength], kHeaderSize);
    PutU16(&bytes[kAtaFlags], flags);
    PutU32(&bytes[kDataTransferLength], length);
    PutU32(&bytes[kTimeOutValue], 5);
    PutU64(&bytes[kDataBufferOffset], kHeaderSize);
    std::copy(previous.begin(), previous.end(), &bytes[kPreviousTaskFile]);
    std::copy(current.begin(), current.end(), &bytes[kCurrentTaskFile]);
  }
  std::uint8_t Status() const { return bytes[ataptx::kCurrentTaskFile + 6]; }
  std::uint8_t Error() const { return bytes[ataptx::kCurrentTaskFile]; }
  std::uint8_t* Data() { return &bytes[ataptx::kHeaderSize]; }
  Bytes bytes;
};

// A SCSI_PASS_THROUGH block: header, 24-byte sense area, data area.
struct ScsiBlock {
  ScsiBlock(Bytes cdb, std::uint8_t dataIn, std::uint32_t length)
      : bytes(scsiptx::kDataOffset + length) {
    using namespace scsiptx;
    PutU16(&bytes[kLength], kHeaderSize);
    bytes[kTargetId] = 1;
    bytes[kCdbLength] = static_cast<std::uint8_t>(cdb.size());
    bytes[kSenseInfoLength] = kSenseSize;
    bytes[kDataIn] = dataIn;
    PutU32(&bytes[kDataTransferLength], length);
    PutU32(&bytes[kTimeOutValue], 5);
    PutU64(&bytes[kDataBufferOffset], kDataOffset);
    PutU32(&bytes[kSenseInfoOffset], kSenseOffset);
    std::copy(cdb.begin(), cdb.end(), &bytes[kCdb]);
  }
  std::uint8_t Status() const { return bytes[scsiptx::kScsiStatus]; }
  Bytes Sense(std::size_t n) const {
    return Bytes(&bytes[scsiptx::kSenseOffset], &bytes[scsiptx::kSenseOffset] + n);
  }
  std::uint8_t* Data() { return &bytes[scsiptx::kDataOffset]; }
  Bytes bytes;
};

const Bytes kIdentify12 = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC};
const Bytes kIdentify16 = {0x85, 0x09, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0};

std::string ModelOf(const std::uint8_t* sector) {
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
  bool Ata(OsHandle h, AtaBlock& block, std::uint32_t inSize, std::uint32_t outSize) {
    return io.DeviceIoControl(h, IOCTL_ATA_PASS_THROUGH_, block.bytes.data(), inSize,
                              block.bytes.data(), outSize, &returned);
  }
  bool Scsi(OsHandle h, ScsiBlock& block, std::uint32_t inSize, std::uint32_t outSize) {
    return io.DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_, block.bytes.data(), inSize,
                              block.bytes.data(), outSize, &returned);
  }

  std::shared_ptr<AtaDrive> sata =
      std::make_shared<AtaDrive>(DriveIdentity{"BENCH SATA DISK", "S1.0", "SATA001"});
  std::shared_ptr<AtaDrive> usb =
      std::make_shared<AtaDrive>(DriveIdentity{"BENCH USB DISK", "U1.0", "USB001"});
  SimDeviceIo io;
  std::uint32_t returned = 0;
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

  std::uint8_t block[64] = {};
  EXPECT_FALSE(io.DeviceIoControl(a, 0x2D1080, block, 0, block, 12, &returned));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_FUNCTION_);
  EXPECT_TRUE(io.CloseHandle(a));
  for (OsHandle gone : {a, kNeverOpened, kInvalidHandle}) {
    EXPECT_FALSE(io.CloseHandle(gone));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_HANDLE_);
    EXPECT_FALSE(
        io.DeviceIoControl(gone, IOCTL_ATA_PASS_THROUGH_, block, 48, block, 48, &returned));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_HANDLE_);
  }
  io.Unplug("sata");
  AtaBlock flush(0x09, {0, 0, 0, 0, 0, 0xA0, 0xE7}, 0);
  EXPECT_FALSE(Ata(b, flush, 48, 48));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_DEVICE_NOT_CONNECTED_);
  EXPECT_EQ(Open("sata"), kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_FILE_NOT_FOUND_);
}

TEST_F(DeviceIoTest, AtaIdentifyReturnsTheSectorAndTheRegisters) {
  const OsHandle h = Open("sata");
  AtaBlock block(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 512);
  ASSERT_TRUE(Ata(h, block, 48, 560));
  EXPECT_EQ(block.Status(), kStatusOk);
  EXPECT_EQ(block.Error(), 0);
  EXPECT_EQ(ModelOf(block.Data()), "BENCH SATA DISK");
  EXPECT_EQ(returned, 560u);
  ASSERT_EQ(sata->History().size(), 1u);
  EXPECT_EQ(sata->History()[0].dataWordsOut, 256u);
}

TEST_F(DeviceIoTest, AtaCommandsRunThroughTheRegisters) {
  const OsHandle h = Open("sata");
  // 48-bit: the previous bytes reach the drive before the current ones.
  AtaBlock flush(0x09, {0x11, 0x22, 0x33, 0x44, 0x55, 0xA0, 0xE7}, 0, {1, 2, 3, 4, 5});
  ASSERT_TRUE(Ata(h, flush, 48, 48));
  EXPECT_EQ(flush.Status(), kStatusOk);
  const auto& r = sata->History().back();
  EXPECT_EQ((std::array{r.featuresPrev, r.countPrev, r.lbaLowPrev, r.lbaMidPrev, r.lbaHighPrev}),
            (std::array<std::uint8_t, 5>{1, 2, 3, 4, 5}));
  EXPECT_EQ((std::array{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh}),
            (std::array<std::uint8_t, 5>{0x11, 0x22, 0x33, 0x44, 0x55}));

  // Data-out: a whole firmware image by DOWNLOAD MICROCODE mode 07.
  const Bytes image = MakeBenchFirmware("ATA07", 3);
  AtaBlock download(0x0D, {0x07, 3, 0, 0, 0, 0xA0, 0x92}, 3 * 512);
  std::copy(image.begin(), image.end(), download.Data());
  ASSERT_TRUE(Ata(h, download, 48 + 1536, 48));
  EXPECT_EQ(download.Status(), kStatusOk);
  EXPECT_EQ(sata->FirmwareRevision(), "ATA07");
  EXPECT_EQ(sata->History().back().dataWordsIn, 3u * 256u);

  // A command the drive aborts still completes the request, with ERR and ABRT.
  sata->Faults().abortCommand = 0xEC;
  AtaBlock identify(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 512);
  ASSERT_TRUE(Ata(h, identify, 48, 560));
  EXPECT_EQ(identify.Status(), kStatusAbort);
  EXPECT_EQ(identify.Error(), kErrorAbrt);
  EXPECT_EQ(Bytes(identify.Data(), identify.Data() + 512), Bytes(512, 0));
}

TEST_F(DeviceIoTest, AtaRefusesBlocksADriverWouldRefuse) {
  const OsHandle h = Open("sata");
  struct Case {
    const char* what;
    std::function<void(AtaBlock&)> change;
    std::uint32_t inSize, outSize;
  };
  using namespace ataptx;
  const Case cases[] = {
      {"input shorter than the header", [](AtaBlock&) {}, 40, 560},
      {"output shorter than the header", [](AtaBlock&) {}, 48, 40},
      {"Length of the 32-bit layout", [](AtaBlock& b) { PutU16(&b.bytes[kLength], 40); }, 48, 560},
      {"both directions", [](AtaBlock& b) { PutU16(&b.bytes[kAtaFlags], 0x0F); }, 48 + 512, 560},
      {"a length without a direction", [](AtaBlock& b) { PutU16(&b.bytes[kAtaFlags], 0x09); }, 48,
       560},
      {"data area over the header", [](AtaBlock& b) { PutU64(&b.bytes[kDataBufferOffset], 40); },
       48, 560},
      {"data-in past the output buffer", [](AtaBlock&) {}, 48, 559},
      {"data-out past the input buffer", [](AtaBlock& b) { PutU16(&b.bytes[kAtaFlags], 0x0D); },
       48 + 511, 48},
      {"offset far out", [](AtaBlock& b) { PutU64(&b.bytes[kDataBufferOffset], 1ull << 40); }, 48,
       560},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AtaBlock block(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 512);
    c.change(block);
    EXPECT_FALSE(Ata(h, block, c.inSize, c.outSize));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_PARAMETER_);
  }
  EXPECT_TRUE(sata->History().empty());
}

TEST_F(DeviceIoTest, AtaTimeOutsAndBrokenDataPhasesFailAndTheDriveRecovers) {
  const OsHandle h = Open("sata");
  sata->Faults().stayBusy = true;
  AtaBlock busy(0x09, {0, 0, 0, 0, 0, 0xA0, 0xE7}, 0);
  EXPECT_FALSE(Ata(h, busy, 48, 48));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_SEM_TIMEOUT_);
  sata->Faults().stayBusy = false;

  // IDENTIFY sent as non-data: the drive offers a sector nobody takes.
  AtaBlock noData(0x09, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 0);
  EXPECT_FALSE(Ata(h, noData, 48, 48));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_IO_DEVICE_);
  // A data-out shorter than the drive asks for.
  AtaBlock shortDownload(0x0D, {0x07, 3, 0, 0, 0, 0xA0, 0x92}, 2 * 512);
  EXPECT_FALSE(Ata(h, shortDownload, 48 + 1024, 48));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_IO_DEVICE_);

  AtaBlock identify(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 512);
  ASSERT_TRUE(Ata(h, identify, 48, 560));
  EXPECT_EQ(identify.Status(), kStatusOk);
  EXPECT_EQ(ModelOf(identify.Data()), "BENCH SATA DISK");
}

TEST_F(DeviceIoTest, AtaPassThroughIsRefusedForADriveBehindAUsbBridge) {
  AtaBlock block(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC}, 512);
  EXPECT_FALSE(Ata(Open("usb"), block, 48, 560));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_FUNCTION_);
  BridgeBehaviour notSupported;
  notSupported.ataIoctlError = win32::ERROR_NOT_SUPPORTED_;
  io.AddPath("usb2", {usb, std::make_shared<UsbBridge>(notSupported), false});
  EXPECT_FALSE(Ata(Open("usb2"), block, 48, 560));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_NOT_SUPPORTED_);
  EXPECT_TRUE(usb->History().empty());
}

TEST_F(DeviceIoTest, ScsiIdentifyThroughTheBridgeInBothForms) {
  const OsHandle h = Open("usb");
  for (const Bytes& cdb : {kIdentify12, kIdentify16}) {
    ScsiBlock block(cdb, scsiptx::SCSI_IOCTL_DATA_IN, 512);
    ASSERT_TRUE(Scsi(h, block, 80, 592));
    EXPECT_EQ(block.Status(), kScsiGood);
    EXPECT_EQ(block.Sense(24), Bytes(24, 0));
    EXPECT_EQ(ModelOf(block.Data()), "BENCH USB DISK");
    EXPECT_EQ(returned, 592u);
  }
  // A disk without a bridge answers through the system's own translation.
  ScsiBlock block(kIdentify12, scsiptx::SCSI_IOCTL_DATA_IN, 512);
  ASSERT_TRUE(Scsi(Open("sata"), block, 80, 592));
  EXPECT_EQ(ModelOf(block.Data()), "BENCH SATA DISK");
}

TEST_F(DeviceIoTest, ScsiDataOutAndTheDrivesErrorsComeBackAsSense) {
  const OsHandle h = Open("usb");
  const Bytes image = MakeBenchFirmware("USB07", 2);
  ScsiBlock download({0xA1, 0x0A, 0x06, 0x07, 2, 0, 0, 0, 0xA0, 0x92}, scsiptx::SCSI_IOCTL_DATA_OUT,
                     1024);
  std::copy(image.begin(), image.end(), download.Data());
  ASSERT_TRUE(Scsi(h, download, 80 + 1024, 80));
  EXPECT_EQ(download.Status(), kScsiGood);
  EXPECT_EQ(usb->FirmwareRevision(), "USB07");

  // Aborted: fixed format, ABORTED COMMAND, error/status/device/count in INFORMATION.
  usb->Faults().abortCommand = 0xEC;
  ScsiBlock identify(kIdentify12, scsiptx::SCSI_IOCTL_DATA_IN, 512);
  ASSERT_TRUE(Scsi(h, identify, 80, 592));
  EXPECT_EQ(identify.Status(), kScsiCheckCondition);
  const Bytes sense = identify.Sense(18);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], scsi::kAbortedCommand);
  EXPECT_EQ(sense[3], kErrorAbrt);
  EXPECT_EQ(sense[4], kStatusAbort);
  EXPECT_EQ(sense[5], 0xA0);
  EXPECT_EQ((Bytes{sense[7], sense[12], sense[13]}), (Bytes{10, 0, 0}));
  usb->Faults().abortCommand.reset();

  // CK_COND on success: descriptor format with the ATA Status Return descriptor.
  ScsiBlock check({0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0xA0, 0xE7},
                  scsiptx::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
  ASSERT_TRUE(Scsi(h, check, 56, 80));
  EXPECT_EQ(check.Status(), kScsiCheckCondition);
  EXPECT_EQ(check.Sense(24), (Bytes{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C,      0, 0,
                                    0,    0,    0,    0,    0, 0, 0, 0,  0xA0, kStatusOk, 0, 0}));

  // A field the translation refuses never reaches the drive.
  const std::size_t commands = usb->History().size();
  ScsiBlock bad({0xA1, 0x08, 0x08, 0, 1, 0, 0, 0, 0xA0, 0xEC}, scsiptx::SCSI_IOCTL_DATA_IN, 512);
  ASSERT_TRUE(Scsi(h, bad, 80, 592));
  EXPECT_EQ(bad.Status(), kScsiCheckCondition);
  EXPECT_EQ(bad.Sense(18), RejectionSense({scsi::kIllegalRequest, 0x24, 0, 2}));
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
  const Bytes none(18, 0);
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
    ScsiBlock block(c.cdb, scsiptx::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
    ASSERT_TRUE(Scsi(Open(c.what), block, 56, 80));
    EXPECT_EQ(block.Status(), c.status);
    EXPECT_EQ(block.Sense(18), c.sense);
    EXPECT_EQ(drive->History().size(), c.status == 0 ? 1u : 0u);
  }
}

TEST_F(DeviceIoTest, ScsiRefusesBlocksADriverWouldRefuse) {
  const OsHandle h = Open("usb");
  struct Case {
    const char* what;
    std::function<void(ScsiBlock&)> change;
    std::uint32_t inSize, outSize;
  };
  using namespace scsiptx;
  const Case cases[] = {
      {"input shorter than the header", [](ScsiBlock&) {}, 44, 592},
      {"Length of the 32-bit layout", [](ScsiBlock& b) { PutU16(&b.bytes[kLength], 44); }, 80, 592},
      {"no command block", [](ScsiBlock& b) { b.bytes[kCdbLength] = 0; }, 80, 592},
      {"command block over 16 bytes", [](ScsiBlock& b) { b.bytes[kCdbLength] = 17; }, 80, 592},
      {"unknown direction", [](ScsiBlock& b) { b.bytes[kDataIn] = 3; }, 80, 592},
      {"sense area past the output", [](ScsiBlock& b) { PutU32(&b.bytes[kSenseInfoOffset], 570); },
       80, 592},
      {"data-in past the output", [](ScsiBlock&) {}, 80, 591},
      {"data over the header", [](ScsiBlock& b) { PutU64(&b.bytes[kDataBufferOffset], 8); }, 80,
       592},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScsiBlock block(kIdentify12, SCSI_IOCTL_DATA_IN, 512);
    c.change(block);
    EXPECT_FALSE(Scsi(h, block, c.inSize, c.outSize));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_PARAMETER_);
  }
  EXPECT_TRUE(usb->History().empty());
}

}  // namespace
}  // namespace brisquel::sim
