#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/FakeSgDevice.h"
#include "platform/linux/LinuxDeviceIo.h"

namespace brisquel::linuxpt {
namespace {

using testing::FakeSgDevice;
using Bytes = std::vector<std::uint8_t>;

const AtaTaskFile kIdentify{.count = 1, .device = 0xA0, .command = 0xEC};

SatCdb Cdb(const Bytes& bytes) {
  SatCdb cdb;
  std::copy(bytes.begin(), bytes.end(), cdb.bytes.begin());
  cdb.length = static_cast<std::uint8_t>(bytes.size());
  return cdb;
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
  Bytes sector(512, 0x33);
  device.dataIn.assign(500, 0x5A);
  device.answer.resid = 12;
  const AtaAnswer answer =
      io.AtaPassThrough(handle, {kIdentify, DataDirection::in, sector, 5, false});
  EXPECT_EQ(device.cdb, (Bytes{0x85, 0x09, 0x0B, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(device.direction, SgDirection::fromDevice);
  EXPECT_EQ(device.data, sector.data());
  EXPECT_EQ(device.length, 512u);
  EXPECT_EQ(device.timeoutMs, 5000u);
  ASSERT_TRUE(answer.delivered);
  EXPECT_FALSE(answer.registersReturned);
  EXPECT_EQ(answer.returned.command, 0x50);
  EXPECT_EQ(answer.returned.features, 0x00);
  EXPECT_EQ(answer.bytesMoved, 500u);
  EXPECT_EQ(std::count(sector.begin(), sector.begin() + 500, 0x5A), 500);
  EXPECT_EQ(Bytes(sector.begin() + 500, sector.end()), Bytes(12, 0)) << "not returned: zeros";
}

TEST_F(LinuxDeviceIoTest, AtaNonDataReturnsTheDevicesRegisters) {
  device.answer.status = 0x02;
  device.answer.driverStatus = 0x08;
  device.sense = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x0E, 0x09, 0x0C, 0x00,
                  0x04, 0x00, 0x07, 0x00, 0x10, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0x51};
  const AtaAnswer answer = io.AtaPassThrough(
      handle, {{0xD5, 0x01, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0}, DataDirection::none, {}, 5, true});
  EXPECT_EQ(device.cdb[2], 0x20);  // CK_COND
  EXPECT_EQ(device.direction, SgDirection::none);
  EXPECT_EQ(device.length, 0u);
  EXPECT_GE(device.senseRoom, 22u);
  ASSERT_TRUE(answer.registersReturned);
  const AtaTaskFile& r = answer.returned;
  EXPECT_EQ((Bytes{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command}),
            (Bytes{0x04, 0x07, 0x10, 0x4F, 0xC2, 0xA0, 0x51}));
}

TEST_F(LinuxDeviceIoTest, AtaDataOutCarriesItsWholeLengthAndItsFailureComesBack) {
  // DOWNLOAD MICROCODE of 300 blocks: count 0x2C, LBA low 0x01.
  const std::uint32_t length = 300 * 512;
  Bytes image(length);
  for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x51, 0xA0, 0x01, 0, 0, 0, 0, 0, 0};
  const AtaAnswer answer = io.AtaPassThrough(
      handle, {{0x07, 0x2C, 0x01, 0x00, 0x00, 0xA0, 0x92}, DataDirection::out, image, 120, false});
  EXPECT_EQ(device.direction, SgDirection::toDevice);
  EXPECT_EQ(device.length, length);  // from the request, not from the 8-bit count
  EXPECT_EQ(device.dataSeen, image);
  EXPECT_EQ(device.timeoutMs, 120000u);
  EXPECT_EQ(device.cdb[2], 0x03);
  ASSERT_TRUE(answer.registersReturned);
  EXPECT_EQ(answer.returned.command, 0x51);
  EXPECT_EQ(answer.returned.features, 0x04);
  EXPECT_EQ(answer.returned.count, 0x01);
}

TEST_F(LinuxDeviceIoTest, ScsiPassThroughSendsTheCdbAsGivenAndReturnsStatusAndSense) {
  // SAT ATA PASS-THROUGH(12) IDENTIFY, sent with ten bytes.
  const Bytes identify = {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC};
  Bytes sector(512, 0x33);
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  device.dataIn.assign(100, 0x11);
  device.answer.resid = 412;
  const ScsiAnswer answer =
      io.ScsiPassThrough(handle, {Cdb(identify), DataDirection::in, sector, 5});
  EXPECT_EQ(device.cdb, identify);
  EXPECT_EQ(device.direction, SgDirection::fromDevice);
  EXPECT_EQ(device.data, sector.data());
  EXPECT_EQ(device.senseRoom, 24u);
  ASSERT_TRUE(answer.delivered);
  EXPECT_EQ(answer.scsiStatus, 0x02);
  EXPECT_EQ(answer.sense, device.sense);
  EXPECT_EQ(answer.bytesMoved, 100u);
  EXPECT_EQ(sector[99], 0x11);
  EXPECT_EQ(sector[100], 0x00);

  device.answer = {};
  device.sense.clear();
  const ScsiAnswer nonData = io.ScsiPassThrough(
      handle, {Cdb({0x85, 0x07, 0x0C, 0, 0x45, 0, 0x0B, 0, 0, 0, 0x44, 0, 0x57, 0xA0, 0x80, 0}),
               DataDirection::none,
               {},
               5});
  EXPECT_EQ(device.cdb.size(), 16u);
  EXPECT_EQ(device.direction, SgDirection::none);
  EXPECT_EQ(device.data, nullptr);
  EXPECT_EQ(nonData.scsiStatus, 0x00);
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
    Bytes sector(512);
    const AtaAnswer ata =
        io.AtaPassThrough(handle, {kIdentify, DataDirection::in, sector, 5, false});
    EXPECT_FALSE(ata.delivered) << c.what;
    EXPECT_EQ(ata.systemError, c.code) << c.what;
    const ScsiAnswer scsi = io.ScsiPassThrough(
        handle, {Cdb({0xA1, 0x06, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xE5}), DataDirection::none, {}, 5});
    EXPECT_FALSE(scsi.delivered) << c.what;
    EXPECT_EQ(scsi.systemError, c.code) << c.what;
  }
}

TEST_F(LinuxDeviceIoTest, HandlesItDidNotOpenAreInvalid) {
  const OsHandle closed = io.CreateFileA("/dev/null", GENERIC_READ_, 0, OPEN_EXISTING_, 0);
  ASSERT_TRUE(io.CloseHandle(closed));
  for (OsHandle h : {kNeverOpened, kInvalidHandle, closed, OsHandle{1}}) {
    EXPECT_EQ(io.AtaPassThrough(h, {kIdentify, DataDirection::none, {}, 5, false}).systemError,
              win32::ERROR_INVALID_HANDLE_)
        << h;
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

TEST_F(LinuxDeviceIoTest, RequestsASystemWouldRefuseAreRefusedBeforeAnythingIsSent) {
  Bytes sector(512);
  EXPECT_EQ(io.AtaPassThrough(handle, {kIdentify, DataDirection::in, {}, 5, false}).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(
      io.AtaPassThrough(handle, {kIdentify, DataDirection::none, sector, 5, false}).systemError,
      win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(io.ScsiPassThrough(handle, {Cdb({}), DataDirection::none, {}, 5}).systemError,
            win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(
      io.ScsiPassThrough(handle, {Cdb({0x12, 0, 0, 0, 36, 0}), DataDirection::none, sector, 5})
          .systemError,
      win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(device.calls, 0);
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
  Bytes sector(512);
  const AtaAnswer answer = io.AtaPassThrough(h, {kIdentify, DataDirection::in, sector, 5, false});
  EXPECT_FALSE(answer.delivered);
  EXPECT_EQ(answer.systemError, win32::ERROR_NOT_SUPPORTED_);
  EXPECT_EQ(io.SystemMessageText(answer.systemError), "The request is not supported.\r\n");
  EXPECT_TRUE(io.CloseHandle(h));
}

}  // namespace
}  // namespace brisquel::linuxpt
