#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/FakeSgDevice.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::linuxpt {
namespace {

using testing::FakeSgDevice;
using Bytes = std::vector<std::uint8_t>;
using TaskFile = std::array<std::uint8_t, 8>;

Bytes AtaBlock(std::uint16_t flags, TaskFile current, std::uint32_t length,
               TaskFile previous = {}) {
  using namespace ataptx;
  Bytes b(kHeaderSize + length);
  PutU16(&b[kLength], kHeaderSize);
  PutU16(&b[kAtaFlags], flags);
  PutU32(&b[kDataTransferLength], length);
  PutU32(&b[kTimeOutValue], 5);
  PutU64(&b[kDataBufferOffset], kHeaderSize);
  std::memcpy(&b[kPreviousTaskFile], previous.data(), 8);
  std::memcpy(&b[kCurrentTaskFile], current.data(), 8);
  return b;
}

Bytes ScsiBlock(Bytes cdb, std::uint8_t cdbLength, std::uint8_t dataIn, std::uint32_t length) {
  using namespace scsiptx;
  Bytes b(kDataOffset + length);
  PutU16(&b[kLength], kHeaderSize);
  b[kTargetId] = 1;
  b[kCdbLength] = cdbLength;
  b[kSenseInfoLength] = kSenseSize;
  b[kDataIn] = dataIn;
  PutU32(&b[kDataTransferLength], length);
  PutU32(&b[kTimeOutValue], 5);
  PutU64(&b[kDataBufferOffset], kDataOffset);
  PutU32(&b[kSenseInfoOffset], kSenseOffset);
  std::memcpy(&b[kCdb], cdb.data(), cdb.size());
  return b;
}

TaskFile CurrentTaskFile(const Bytes& block) {
  TaskFile t;
  std::memcpy(t.data(), &block[ataptx::kCurrentTaskFile], 8);
  return t;
}

class LinuxDeviceIoTest : public ::testing::Test {
 protected:
  FakeSgDevice device;
  LinuxDeviceIo io{device.Runner()};
  // Any node opens for the handle; the fake answers in place of the ioctl.
  OsHandle handle = io.CreateFileA("/dev/null", GENERIC_READ_ | GENERIC_WRITE_,
                                   FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_, 0);
};

TEST_F(LinuxDeviceIoTest, AtaIdentifyRunsAsAta16AndReturnsDataWithAReadyStatus) {
  ASSERT_NE(handle, kInvalidHandle);
  Bytes block = AtaBlock(0x0B, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}, 512);
  device.dataIn.assign(512, 0x5A);
  std::uint32_t returned = 0;
  ASSERT_TRUE(io.DeviceIoControl(handle, IOCTL_ATA_PASS_THROUGH_, block.data(), 48, block.data(),
                                 560, &returned));
  EXPECT_EQ(device.cdb, (Bytes{0x85, 0x09, 0x0B, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(device.direction, SgDirection::fromDevice);
  EXPECT_EQ(device.data, block.data() + 48);
  EXPECT_EQ(device.length, 512u);
  EXPECT_EQ(device.timeoutMs, 5000u);
  EXPECT_EQ(CurrentTaskFile(block), (TaskFile{0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x50, 0x00}));
  EXPECT_EQ(Bytes(block.begin() + 48, block.end()), Bytes(512, 0x5A));
  EXPECT_EQ(GetU32(&block[ataptx::kDataTransferLength]), 512u);
  EXPECT_EQ(returned, 560u);
}

TEST_F(LinuxDeviceIoTest, AtaNonDataReturnsTheDevicesRegisters) {
  Bytes block = AtaBlock(0x09, {0xD5, 0x01, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0, 0x00}, 0);
  device.answer.status = 0x02;
  device.answer.driverStatus = 0x08;
  device.sense = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x0E, 0x09, 0x0C, 0x00,
                  0x04, 0x00, 0x07, 0x00, 0x10, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0x51};
  ASSERT_TRUE(io.DeviceIoControl(handle, IOCTL_ATA_PASS_THROUGH_, block.data(), 48, block.data(),
                                 48, nullptr));
  EXPECT_EQ(device.cdb[2], 0x20);  // CK_COND
  EXPECT_EQ(device.direction, SgDirection::none);
  EXPECT_EQ(device.length, 0u);
  EXPECT_GE(device.senseRoom, 22u);
  EXPECT_EQ(CurrentTaskFile(block), (TaskFile{0x04, 0x07, 0x10, 0x4F, 0xC2, 0xA0, 0x51, 0x00}));
}

TEST_F(LinuxDeviceIoTest, AtaDataOutFailureComesBackInTheOutputBlock) {
  // DOWNLOAD MICROCODE of 300 blocks: count 0x2C, LBA low 0x01.
  const std::uint32_t length = 300 * 512;
  Bytes in = AtaBlock(0x0D, {0x07, 0x2C, 0x01, 0x00, 0x00, 0xA0, 0x92, 0x00}, length);
  for (std::uint32_t i = 0; i < length; ++i) in[48 + i] = static_cast<std::uint8_t>(i * 7);
  Bytes out(48, 0xEE);
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x51, 0xA0, 0x01, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(io.DeviceIoControl(handle, IOCTL_ATA_PASS_THROUGH_, in.data(), 48 + length,
                                 out.data(), 48, nullptr));
  EXPECT_EQ(device.direction, SgDirection::toDevice);
  EXPECT_EQ(device.length, length);  // from the block, not from the 8-bit count
  EXPECT_EQ(device.dataSeen, Bytes(in.begin() + 48, in.end()));
  EXPECT_EQ(device.cdb[2], 0x03);
  EXPECT_EQ(CurrentTaskFile(out), (TaskFile{0x04, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x51, 0x00}));
  EXPECT_EQ(GetU16(&out[ataptx::kAtaFlags]), 0x0D);  // the header travels to the output block
}

TEST_F(LinuxDeviceIoTest, ScsiPassThroughSendsTheCdbAsGivenAndReturnsStatusAndSense) {
  // SAT ATA PASS-THROUGH(12) IDENTIFY, sent with CdbLength 10.
  Bytes block = ScsiBlock({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}, 10, 1, 512);
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  device.dataIn.assign(100, 0x11);
  device.answer.resid = 412;
  std::uint32_t returned = 0;
  ASSERT_TRUE(io.DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_, block.data(), 80, block.data(),
                                 592, &returned));
  EXPECT_EQ(device.cdb, (Bytes{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}));
  EXPECT_EQ(device.direction, SgDirection::fromDevice);
  EXPECT_EQ(device.data, block.data() + 80);
  EXPECT_EQ(device.senseRoom, 24u);
  EXPECT_EQ(block[scsiptx::kScsiStatus], 0x02);
  EXPECT_EQ(Bytes(block.begin() + 56, block.begin() + 74), device.sense);
  EXPECT_EQ(block[scsiptx::kSenseInfoLength], 18);
  EXPECT_EQ(GetU32(&block[scsiptx::kDataTransferLength]), 100u);
  EXPECT_EQ(block[80], 0x11);
  EXPECT_EQ(returned, 180u);

  Bytes nonData = ScsiBlock(
      {0x85, 0x07, 0x0C, 0, 0x45, 0, 0x0B, 0, 0, 0, 0x44, 0, 0x57, 0xA0, 0x80, 0}, 16, 2, 0);
  device.answer = {};
  device.sense.clear();
  ASSERT_TRUE(io.DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_, nonData.data(), 56,
                                 nonData.data(), 80, nullptr));
  EXPECT_EQ(device.cdb.size(), 16u);
  EXPECT_EQ(device.direction, SgDirection::none);
  EXPECT_EQ(device.data, nullptr);
  EXPECT_EQ(nonData[scsiptx::kScsiStatus], 0x00);
}

TEST_F(LinuxDeviceIoTest, RequestsThatDoNotCompleteFailWithTheNamingError) {
  struct Case {
    const char* what;
    SgResult answer;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"ioctl EIO", {EIO, 0, 0, 0, 0, 0}, 1117},
      {"ioctl ENODEV", {ENODEV, 0, 0, 0, 0, 0}, 1167},
      {"ioctl ENOMEM (transfer too large)", {ENOMEM, 0, 0, 0, 0, 0}, 8},
      {"host time-out", {0, 0, 0x03, 0, 0, 0}, 121},
      {"device gone", {0, 0, 0x01, 0, 0, 0}, 1167},
  };
  for (const Case& c : cases) {
    device.answer = c.answer;
    Bytes ata = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
    io.SetLastError(0);
    EXPECT_FALSE(io.DeviceIoControl(handle, IOCTL_ATA_PASS_THROUGH_, ata.data(), 48, ata.data(),
                                    560, nullptr))
        << c.what;
    EXPECT_EQ(io.GetLastError(), c.code) << c.what;
    EXPECT_EQ(ata[ataptx::kCurrentTaskFile + 6], 0xEC) << c.what << ": block left as it was";
    Bytes scsi = ScsiBlock({0xA1, 0x06, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xE5}, 10, 2, 0);
    io.SetLastError(0);
    EXPECT_FALSE(io.DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_, scsi.data(), 56, scsi.data(),
                                    80, nullptr))
        << c.what;
    EXPECT_EQ(io.GetLastError(), c.code) << c.what;
  }
}

TEST_F(LinuxDeviceIoTest, HandlesItDidNotOpenAreInvalid) {
  Bytes block = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  const OsHandle closed = io.CreateFileA("/dev/null", GENERIC_READ_, 0, OPEN_EXISTING_, 0);
  ASSERT_TRUE(io.CloseHandle(closed));
  for (OsHandle h : {kNeverOpened, kInvalidHandle, closed, OsHandle{1}}) {
    io.SetLastError(0);
    EXPECT_FALSE(io.DeviceIoControl(h, IOCTL_ATA_PASS_THROUGH_, block.data(), 48, block.data(), 560,
                                    nullptr));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_HANDLE_) << h;
    io.SetLastError(0);
    EXPECT_FALSE(io.CloseHandle(h));
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_HANDLE_) << h;
  }
  EXPECT_EQ(device.calls, 0);
  EXPECT_EQ(io.SystemMessageText(io.GetLastError()), "The handle is invalid.\r\n");
}

TEST_F(LinuxDeviceIoTest, OpeningANodeThatIsNotThereFailsWithFileNotFound) {
  EXPECT_EQ(io.CreateFileA("/dev/brisquel-no-such-disk", GENERIC_READ_ | GENERIC_WRITE_, 3,
                           OPEN_EXISTING_, 0),
            kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_FILE_NOT_FOUND_);
}

TEST_F(LinuxDeviceIoTest, MalformedBlocksAreRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* what;
    std::uint32_t code;
    Bytes block;
    std::uint32_t inSize, outSize;
  };
  Bytes bothWays = AtaBlock(0x0F, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  Bytes badLength = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  PutU16(&badLength[0], 36);
  Bytes noData = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 0);
  Bytes insideHeader = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  PutU64(&insideHeader[ataptx::kDataBufferOffset], 8);
  Bytes farOffset = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  PutU64(&farOffset[ataptx::kDataBufferOffset], 0xFFFFFFFFFFFFFF00ull);
  Bytes cdb0 = ScsiBlock({0x12}, 0, 2, 0);
  Bytes cdb17 = ScsiBlock({0x12}, 17, 2, 0);
  Bytes dataIn3 = ScsiBlock({0x12}, 6, 3, 0);
  Bytes unspecified = ScsiBlock({0x12}, 6, 2, 36);
  Bytes senseInHeader = ScsiBlock({0x12}, 6, 1, 36);
  PutU32(&senseInHeader[scsiptx::kSenseInfoOffset], 16);
  Bytes outPastInput = ScsiBlock({0x3B}, 10, 0, 512);
  const std::uint32_t ata = IOCTL_ATA_PASS_THROUGH_, scsi = IOCTL_SCSI_PASS_THROUGH_;
  const Case cases[] = {
      {"ATA block shorter than its header", ata, AtaBlock(0x09, {}, 0), 40, 48},
      {"ATA output shorter than the header", ata, AtaBlock(0x09, {}, 0), 48, 40},
      {"ATA both directions", ata, bothWays, 48, 560},
      {"ATA unknown Length", ata, badLength, 48, 560},
      {"ATA data-in without a length", ata, noData, 48, 48},
      {"ATA data area inside the header", ata, insideHeader, 48, 560},
      {"ATA data-in larger than the output", ata, AtaBlock(0x0B, {}, 512), 48, 559},
      {"ATA data offset wrapping around", ata, farOffset, 48, 560},
      {"ATA data-out larger than the input", ata, AtaBlock(0x0D, {}, 512), 48, 48},
      {"SCSI CdbLength 0", scsi, cdb0, 56, 80},
      {"SCSI CdbLength 17", scsi, cdb17, 56, 80},
      {"SCSI DataIn 3", scsi, dataIn3, 56, 80},
      {"SCSI data with no direction", scsi, unspecified, 116, 116},
      {"SCSI sense area inside the header", scsi, senseInHeader, 80, 116},
      {"SCSI sense area past the output", scsi, ScsiBlock({0x00}, 6, 2, 0), 56, 70},
      {"SCSI data-out larger than the input", scsi, outPastInput, 80, 80},
  };
  for (Case c : cases) {
    io.SetLastError(0);
    EXPECT_FALSE(io.DeviceIoControl(handle, c.code, c.block.data(), c.inSize, c.block.data(),
                                    c.outSize, nullptr))
        << c.what;
    EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_PARAMETER_) << c.what;
  }
  EXPECT_EQ(device.calls, 0);
  Bytes any = AtaBlock(0x09, {}, 0);
  EXPECT_FALSE(io.DeviceIoControl(handle, 0x2D1080, any.data(), 48, any.data(), 48, nullptr));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_INVALID_FUNCTION_);
}

TEST(SgIoErrno, ATransferTooLargeForTheQueueIsABadParameterNotADeviceFault) {
  struct Case {
    int error;
    std::uint32_t length;
    std::uint64_t limit;
    int result;
  };
  for (const Case& c : {Case{EIO, 153600, 131072, EINVAL}, Case{EIO, 131072, 131072, EIO},
                        Case{EIO, 153600, 0, EIO}, Case{ENODEV, 153600, 131072, ENODEV}}) {
    EXPECT_EQ(SgIoErrno(c.error, c.length, c.limit), c.result) << c.length << " " << c.limit;
  }
}

TEST(LinuxDeviceIoReal, ANodeWithoutPassThroughSaysTheRequestIsNotSupported) {
  LinuxDeviceIo io;
  const OsHandle h =
      io.CreateFileA("/dev/null", GENERIC_READ_ | GENERIC_WRITE_, 3, OPEN_EXISTING_, 0);
  ASSERT_NE(h, kInvalidHandle);
  Bytes block = AtaBlock(0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, 512);
  EXPECT_FALSE(
      io.DeviceIoControl(h, IOCTL_ATA_PASS_THROUGH_, block.data(), 48, block.data(), 560, nullptr));
  EXPECT_EQ(io.GetLastError(), win32::ERROR_NOT_SUPPORTED_);
  EXPECT_EQ(io.SystemMessageText(io.GetLastError()), "The request is not supported.\r\n");
  EXPECT_TRUE(io.CloseHandle(h));
}

}  // namespace
}  // namespace brisquel::linuxpt
