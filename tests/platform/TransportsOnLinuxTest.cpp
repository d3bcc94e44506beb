// The transports' request blocks carried out by the Linux adapter: what the
// transports build is what the adapter understands, and what the adapter
// answers is what the transports decode.
#include <gtest/gtest.h>

#include "platform/FakeSgDevice.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "support/FakeUiHost.h"
#include "support/RecordingPorts.h"
#include "transport/AtaCommands.h"
#include "transport/uAtaPass.h"
#include "transport/uSCSI.h"

namespace brisquel::linuxpt {
namespace {

using Bytes = std::vector<std::uint8_t>;

const AtaTaskFile kIdentify{.count = 1, .device = 0xA0, .command = 0xEC};

struct TransportsOnLinux : ::testing::Test {
  testing::FakeSgDevice device;
  LinuxDeviceIo io{device.Runner()};
  TransportState state;
  brisquel::testing::RecordingPorts ports;
  brisquel::testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};

  OsHandle Open() {
    return io.CreateFileA("/dev/null", GENERIC_READ_ | GENERIC_WRITE_,
                          FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_, 0);
  }
};

TEST_F(TransportsOnLinux, AtaIdentifyReturnsTheDriveDataAndAReadyStatus) {
  state.DriveTarget.ataPassHandle = Open();
  device.dataIn.assign(512, 0x3C);
  ASSERT_TRUE(AtaPassThrough(t, kIdentify, state.TransferBuffer, 512, DataDirection::in));
  EXPECT_EQ(device.cdb, (Bytes{0x85, 0x09, 0x0B, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(Bytes(state.TransferBuffer.begin(), state.TransferBuffer.begin() + 512),
            Bytes(512, 0x3C));
  EXPECT_TRUE(state.AtaStatusBits.DRDY);
  EXPECT_FALSE(state.AtaStatusBits.ERR);
  EXPECT_TRUE(host.log.empty());
}

TEST_F(TransportsOnLinux, AtaAbortComesBackAsErrAndAbrtWithTheBufferZeroed) {
  state.DriveTarget.ataPassHandle = Open();
  std::fill_n(state.TransferBuffer.begin(), 1024, 0x77);
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x51, 0xA0, 0x02, 0, 0, 0, 0, 0, 0};
  const AtaTaskFile dlmc{.features = 0x07, .count = 2, .device = 0xA0, .command = 0x92};
  EXPECT_FALSE(AtaPassThrough(t, dlmc, state.TransferBuffer, 1024, DataDirection::out));
  EXPECT_EQ(device.dataSeen, Bytes(1024, 0x77));
  EXPECT_TRUE(state.AtaStatusBits.ERR);
  EXPECT_TRUE(state.AtaStatusBits.ABRT);
  EXPECT_EQ(Bytes(state.TransferBuffer.begin(), state.TransferBuffer.begin() + 1024),
            Bytes(1024, 0));
  EXPECT_TRUE(host.log.empty());
}

TEST_F(TransportsOnLinux, AHandleNeverOpenedIsLoggedAsWindowsWords) {
  state.DriveTarget.ataPassHandle = kNeverOpened;
  EXPECT_FALSE(AtaPassThrough(t, kIdentify, state.TransferBuffer, 512, DataDirection::in));
  EXPECT_EQ(host.log, std::vector<std::string>{"IOCTL_ATA_PASS_THROUGH The handle is invalid"});
  EXPECT_EQ(device.calls, 0);
}

TEST_F(TransportsOnLinux, SatIdentifyRefusedByTheBridgeFails) {
  state.DriveTarget.scsiHandle = Open();
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  EXPECT_FALSE(SatPioIn(t, state.SectorBuffer, kIdentify));
  EXPECT_EQ(device.cdb, (Bytes{0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}));
  EXPECT_EQ(device.direction, SgDirection::fromDevice);
  EXPECT_EQ(device.length, 512u);

  device.answer = {};
  device.sense.clear();
  EXPECT_TRUE(SatNonData(t, AtaTaskFile{.device = 0xA0, .command = 0xE5}));
  EXPECT_EQ(device.direction, SgDirection::none);
}

// The command's time limit becomes the SG_IO time-out on both paths, and a
// time-out the kernel reports ends the command as timed out.
TEST_F(TransportsOnLinux, TheCommandsTimeLimitIsTheSgIoTimeout) {
  state.DriveTarget.ataPassHandle = Open();
  state.DriveTarget.scsiHandle = Open();
  for (TransportKind kind : {TransportKind::ataPassThrough, TransportKind::scsiPassThrough}) {
    state.DriveTarget.kind = kind;
    device.answer = {};
    ASSERT_TRUE(Dispatch(t, IdentifyCommand(state.SectorBuffer)));
    EXPECT_EQ(device.timeoutMs, 5'000u);
    ASSERT_TRUE(Dispatch(t, DownloadMicrocodeCommand(0x03, 2, 0, state.TransferBuffer)));
    EXPECT_EQ(device.timeoutMs, 120'000u);

    device.answer.hostStatus = 0x03;  // DID_TIME_OUT
    EXPECT_EQ(Dispatch(t, ActivateMicrocodeCommand()).end, CommandEnd::timedOut);
    EXPECT_EQ(device.timeoutMs, 120'000u);
  }
}

}  // namespace
}  // namespace brisquel::linuxpt
