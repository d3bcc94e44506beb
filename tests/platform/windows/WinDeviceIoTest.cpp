// The real device calls under Wine: Wine opens \\.\PhysicalDrive0 and answers
// the device-number query, but refuses both pass-through requests. The log
// lines then carry the system's own message text.
#include <gtest/gtest.h>

#include <algorithm>

#include "ops/SystemFirmwareInterface.h"
#include "platform/windows/WinDeviceIo.h"
#include "support/FakeUiHost.h"
#include "support/RecordingPorts.h"
#include "transport/OpenDrive.h"
#include "transport/uAtaPass.h"
#include "transport/uSCSI.h"

namespace brisquel::winpt {
namespace {

constexpr std::uint32_t kGetDeviceNumber = 0x2D1080;
const AtaTaskFile kIdentify{.count = 1, .device = 0xA0, .command = 0xEC};

struct WinDeviceIoTest : ::testing::Test {
  WinDeviceIo io;
  TransportState state;
  brisquel::testing::RecordingPorts ports;
  brisquel::testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};
};

TEST_F(WinDeviceIoTest, MessageTextsAreTheSystemsOwnWithTheirLineEnd) {
  for (std::uint32_t code : {1u, 2u, 5u, 6u, 50u, 87u, 1117u}) {
    const std::string text = io.SystemMessageText(code);
    EXPECT_GT(text.size(), 3u) << code;
    EXPECT_TRUE(text.ends_with(".\r\n")) << code << ": " << text;
  }
  EXPECT_EQ(io.SystemMessageText(0xDEADu), "");
}

TEST_F(WinDeviceIoTest, NeverOpenedHandleLogsTheSystemsTextForInvalidHandle) {
  std::fill_n(state.TransferBuffer.begin(), 512, 0x55);
  state.DriveTarget.ataPassHandle = kNeverOpened;
  const CommandResult r =
      AtaPassThrough(t, kIdentify, state.TransferBuffer, 512, DataDirection::in);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.systemError, win32::ERROR_INVALID_HANDLE_);
  ASSERT_EQ(host.log.size(), 1u);
  // Windows' English text, or Wine's.
  EXPECT_TRUE(host.log[0] == "IOCTL_ATA_PASS_THROUGH The handle is invalid" ||
              host.log[0] == "IOCTL_ATA_PASS_THROUGH Invalid handle")
      << host.log[0];
  EXPECT_EQ(std::count(state.TransferBuffer.begin(), state.TransferBuffer.begin() + 512, 0), 512);
}

TEST_F(WinDeviceIoTest, WinesFirstDiskOpensAndRefusesPassThrough) {
  const OsHandle disk = OpenDrive(io, "\\\\.\\PhysicalDrive0");
  ASSERT_NE(disk, kInvalidHandle) << io.GetLastError();

  std::uint32_t number[3] = {};
  std::uint32_t returned = 0;
  ASSERT_TRUE(
      io.DeviceIoControl(disk, kGetDeviceNumber, nullptr, 0, number, sizeof number, &returned));
  EXPECT_EQ(number[0], 7u);  // FILE_DEVICE_DISK
  EXPECT_EQ(number[1], 0u);

  state.DriveTarget.ataPassHandle = disk;
  state.DriveTarget.scsiHandle = disk;
  const CommandResult ata =
      AtaPassThrough(t, kIdentify, state.TransferBuffer, 512, DataDirection::in);
  EXPECT_FALSE(ata);
  EXPECT_EQ(ata.systemError, win32::ERROR_NOT_SUPPORTED_);
  const CommandResult sat = SatPioIn(t, state.TransferBuffer, kIdentify);
  EXPECT_FALSE(sat);
  EXPECT_EQ(sat.systemError, win32::ERROR_NOT_SUPPORTED_);
  ASSERT_FALSE(host.log.empty());
  EXPECT_TRUE(host.log[0] == "IOCTL_ATA_PASS_THROUGH The request is not supported" ||
              host.log[0] == "IOCTL_ATA_PASS_THROUGH Request not supported")
      << host.log[0];
  EXPECT_TRUE(io.CloseHandle(disk));

  EXPECT_EQ(OpenDrive(io, "\\\\.\\PhysicalDrive1"), kInvalidHandle);
  EXPECT_EQ(io.GetLastError(), win32::ERROR_FILE_NOT_FOUND_);
}

// Wine's disk driver has no firmware interface: GET_INFO is refused with the
// system's error, which leaves 0E and 0F to pass-through.
TEST_F(WinDeviceIoTest, WinesFirstDiskOffersNoFirmwareInterface) {
  const OsHandle disk = OpenDrive(io, "\\\\.\\PhysicalDrive0");
  ASSERT_NE(disk, kInvalidHandle) << io.GetLastError();
  const FirmwareInterfaceInfo info = io.FirmwareInterface(disk);
  EXPECT_TRUE(info.onThisSystem);
  EXPECT_NE(info.systemError, 0u);
  EXPECT_EQ(FirmwareInterfaceSummary(info, TransportKind::ataPassThrough, io).rfind("not offered: ", 0),
            0u);
  EXPECT_TRUE(io.CloseHandle(disk));
}

}  // namespace
}  // namespace brisquel::winpt
