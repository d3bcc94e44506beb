// The transports' request blocks carried out by the Linux adapter: what the
// transports build is what the adapter understands, and what the adapter
// answers is what the transports decode.
#include <gtest/gtest.h>

#include "platform/FakeSgDevice.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "sim/AtaDrive.h"
#include "sim/BenchFirmware.h"
#include "sim/UsbBridge.h"
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

// Registers back where the drive answers with them: every DOWNLOAD
// MICROCODE segment goes with CK_COND and its count register comes back;
// IDENTIFY (data-in) never asks. A layer that refuses CK_COND on data-out
// fails the segment with words that say so, and nothing is sent again.
TEST_F(TransportsOnLinux, DownloadMicrocodeAsksForItsRegistersAndAnIdentifyNever) {
  state.DriveTarget.ataPassHandle = Open();
  state.DriveTarget.kind = TransportKind::ataPassThrough;
  constexpr std::uint8_t kCkCond = 0x20;
  ASSERT_TRUE(Dispatch(t, IdentifyCommand(state.SectorBuffer)));
  EXPECT_EQ(device.cdb[2] & kCkCond, 0);
  ASSERT_TRUE(Dispatch(t, DownloadMicrocodeCommand(0x03, 2, 0, state.TransferBuffer)));
  EXPECT_EQ(device.cdb[2], 0x23);  // CK_COND, T_LENGTH in the transfer

  // ILLEGAL REQUEST, INVALID FIELD IN CDB, no registers: CK_COND refused.
  device.answer.status = 0x02;
  device.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0};
  const int calls = device.calls;
  const CommandResult refused = Dispatch(t, DownloadMicrocodeCommand(0x03, 2, 0, state.TransferBuffer));
  EXPECT_EQ(refused.end, CommandEnd::systemRefused);
  EXPECT_EQ(device.calls, calls + 1);
  ASSERT_FALSE(host.log.empty());
  EXPECT_NE(host.log.back().find("refuses to hand back the registers of a data-out command "
                                 "(CK_COND)"),
            std::string::npos)
      << host.log.back();
}

// The Linux backend's SG_IO path on the bench's SAT layer, which, as libata
// does, returns a data command's registers only when CK_COND asks for them.
TEST(TransportsOnLinuxBench, TheDrivesAnswerToEachSegmentComesBackOverSgIo) {
  sim::AtaDrive drive;
  const sim::UsbBridge sat;
  LinuxDeviceIo io{[&](int, const SgRequest& r) {
    const DataDirection direction = r.direction == SgDirection::toDevice     ? DataDirection::out
                                    : r.direction == SgDirection::fromDevice ? DataDirection::in
                                                                             : DataDirection::none;
    const sim::ScsiOutcome o =
        sat.Execute(drive, r.cdb, direction, std::span(r.data, r.length), r.timeoutMs / 1000);
    SgResult result;
    result.status = o.scsiStatus;
    result.resid = static_cast<std::int32_t>(r.length - o.bytesTransferred);
    const std::size_t n = std::min(o.sense.size(), r.sense.size());
    std::copy_n(o.sense.begin(), n, r.sense.begin());
    result.senseLength = static_cast<std::uint8_t>(n);
    return result;
  }};
  TransportState state;
  brisquel::testing::RecordingPorts ports;
  brisquel::testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};
  state.DriveTarget.kind = TransportKind::ataPassThrough;
  state.DriveTarget.ataPassHandle = io.CreateFileA("/dev/null", GENERIC_READ_ | GENERIC_WRITE_,
                                                    FILE_SHARE_READ_ | FILE_SHARE_WRITE_,
                                                    OPEN_EXISTING_, 0);

  const std::vector<std::uint8_t> image = sim::MakeBenchFirmware("NEW1", 4);
  std::copy(image.begin(), image.end(), state.TransferBuffer.begin());
  const CommandResult first = Dispatch(t, DownloadMicrocodeCommand(0x03, 2, 0, state.TransferBuffer));
  ASSERT_TRUE(first);
  EXPECT_EQ(first.returnedCount, std::optional<std::uint8_t>{0x01});  // more expected
  std::copy(image.begin() + 1024, image.end(), state.TransferBuffer.begin());
  const CommandResult last = Dispatch(t, DownloadMicrocodeCommand(0x03, 2, 2, state.TransferBuffer));
  ASSERT_TRUE(last);
  EXPECT_EQ(last.returnedCount, std::optional<std::uint8_t>{0x02});  // applied
  EXPECT_EQ(drive.FirmwareRevision(), "NEW1");
}

}  // namespace
}  // namespace brisquel::linuxpt
