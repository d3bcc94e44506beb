// The bench against the program's own request builders and transports: what
// the transports send, the bench must take; what the bench answers, the
// transports must read.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/Bench.h"
#include "support/FakeUiHost.h"
#include "transport/OpenDrive.h"
#include "transport/uAtaPass.h"
#include "transport/uSCSI.h"

namespace brisquel::sim {
namespace {

TEST(SatDecode, TakesBackWhatTheTransportBuilds) {
  const AtaTaskFile regs{0xD6, 3, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0};
  for (DataDirection direction : {DataDirection::none, DataDirection::in, DataDirection::out}) {
    const std::uint32_t length = direction == DataDirection::none ? 0 : 3 * 512;
    const auto cdb12 = SatCdb12(regs, direction);
    const auto cdb16 = SatCdb16(regs, direction);
    for (std::span<const std::uint8_t> cdb :
         {std::span<const std::uint8_t>(cdb12).first(kSatCdb12SentLength),
          std::span<const std::uint8_t>(cdb16)}) {
      SCOPED_TRACE(::testing::Message()
                   << "direction " << int(direction) << ", " << cdb.size() << " bytes");
      const SatDecode d = DecodeSatCdb(cdb, direction, length);
      ASSERT_TRUE(d.command.has_value());
      const AtaTaskFile& got = d.command->regs;
      EXPECT_EQ((std::array{got.features, got.count, got.lbaLow, got.lbaMid, got.lbaHigh,
                            got.device, got.command}),
                (std::array{regs.features, regs.count, regs.lbaLow, regs.lbaMid, regs.lbaHigh,
                            regs.device, regs.command}));
      EXPECT_EQ(d.command->extend, cdb.size() == 16);
      EXPECT_EQ(got.countPrev, 0);
      EXPECT_EQ(d.command->byteCount, length);
      EXPECT_FALSE(d.command->ckCond);
    }
  }
}

std::string Model(std::span<const std::uint8_t> buffer) {
  std::string model;
  for (int word = 27; word < 47; ++word) {
    model += static_cast<char>(buffer[2 * word + 1]);
    model += static_cast<char>(buffer[2 * word]);
  }
  return model.substr(0, model.find_last_not_of(' ') + 1);
}

struct TransportsOnTheDefaultBench : ::testing::Test {
  std::unique_ptr<Bench> bench = Bench::Default();
  TransportState state;
  testing::FakeUiHost host;
  TransportContext t{state, bench->Ports(), bench->Io(), host};
  const AtaTaskFile identify{0, 1, 0, 0, 0, 0xA0, 0xEC};
  std::span<std::uint8_t> sector{state.TransferBuffer.data(), 512};
};

TEST_F(TransportsOnTheDefaultBench, AtaPassThroughReachesTheSataDrive) {
  state.DriveTarget.ataPassHandle = OpenDrive(bench->Io(), DefaultDiskPath(0));
  ASSERT_TRUE(AtaPassThrough(t, identify, state.TransferBuffer, 512, DataDirection::in));
  EXPECT_EQ(Model(state.TransferBuffer), "WDC WD5000AAKX-00SIMB0");
  EXPECT_TRUE(state.AtaStatusBits.DRDY);

  bench->Drive("sata0")->Faults().abortCommand = 0xEC;
  EXPECT_FALSE(AtaPassThrough(t, identify, state.TransferBuffer, 512, DataDirection::in));
  EXPECT_TRUE(state.AtaStatusBits.ERR);
  EXPECT_TRUE(state.AtaStatusBits.ABRT);
  EXPECT_TRUE(host.log.empty());

  // The USB drive does not take the ATA request; the system's text is logged.
  state.DriveTarget.ataPassHandle = OpenDrive(bench->Io(), DefaultDiskPath(2));
  EXPECT_FALSE(AtaPassThrough(t, identify, state.TransferBuffer, 512, DataDirection::in));
  EXPECT_EQ(host.log, std::vector<std::string>{"IOCTL_ATA_PASS_THROUGH Incorrect function"});
}

TEST_F(TransportsOnTheDefaultBench, SatEntriesReachTheUsbDriveInBothForms) {
  state.DriveTarget.scsiHandle = OpenDrive(bench->Io(), DefaultDiskPath(2));
  for (bool use16 : {false, true}) {
    state.DriveTarget.use16ByteCdb = use16;
    std::fill(sector.begin(), sector.end(), 0);
    ASSERT_TRUE(SatPioIn(t, sector, identify)) << use16;
    EXPECT_EQ(Model(state.TransferBuffer), "WDC WD10EZEX-00SIMC0");
    EXPECT_TRUE(SatNonData(t, {0, 0, 0, 0, 0, 0xA0, 0xE7}));
  }
  const std::vector<std::uint8_t> image = MakeBenchFirmware("USB1.2", 2);
  std::copy(image.begin(), image.end(), state.TransferBuffer.begin());
  ASSERT_TRUE(SatPioOut(t, state.TransferBuffer, {0x07, 2, 0, 0, 0, 0xA0, 0x92}));
  EXPECT_EQ(bench->Drive("usb0")->FirmwareRevision(), "USB1.2");

  bench->Drive("usb0")->Faults().abortCommand = 0xEC;
  EXPECT_FALSE(SatPioIn(t, sector, identify));
}

TEST(TransportsOnABench, ARefusingBridgeFailsEveryForm) {
  BenchLoad load = Bench::FromText(
      "[drive d]\n[bridge old]\nforms = none\n[disk]\ndrive = d\nbridge = old\nbus = USB\n");
  ASSERT_TRUE(load.bench) << load.error;
  TransportState state;
  testing::FakeUiHost host;
  TransportContext t{state, load.bench->Ports(), load.bench->Io(), host};
  state.DriveTarget.scsiHandle = OpenDrive(load.bench->Io(), DefaultDiskPath(0));
  for (bool use16 : {false, true}) {
    state.DriveTarget.use16ByteCdb = use16;
    EXPECT_FALSE(SatPioIn(t, state.TransferBuffer, {0, 1, 0, 0, 0, 0xA0, 0xEC})) << use16;
  }
  EXPECT_TRUE(load.bench->Drive("d")->History().empty());
}

}  // namespace
}  // namespace brisquel::sim
