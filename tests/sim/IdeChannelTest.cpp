#include <gtest/gtest.h>

#include "sim/DriveHost.h"

namespace brisquel::sim::drivetest {
namespace {

TEST(IdeChannel, DevBitRoutesAndEmptyPositionsFloat) {
  IdeChannel channel;
  channel.WriteByte(6, 0xA0);  // an empty channel: nothing drives the bus
  for (std::uint8_t offset = 1; offset <= 7; ++offset) EXPECT_EQ(channel.ReadByte(offset), 0xFF);
  auto master = std::make_shared<AtaDrive>(DriveIdentity{"MASTER", "F0", "S0"});
  channel.Attach(0, master);
  EXPECT_EQ(channel.Drive(1), nullptr);

  // Device 1 absent behind device 0: device 0 answers for it, status 00h.
  channel.WriteByte(6, 0xB0);
  EXPECT_EQ(channel.ReadByte(7), 0x00);
  EXPECT_EQ(channel.ReadByte(6), 0xB0);
  EXPECT_EQ(channel.ReadWord(0), 0xFFFF);
  channel.WriteByte(7, 0xE7);
  EXPECT_TRUE(master->History().empty());
  // Both drives see the device register, so the master holds 0xB0 too.
  channel.WriteByte(6, 0xA0);
  auto slave = std::make_shared<AtaDrive>(DriveIdentity{"SLAVE", "F1", "S1"});
  channel.Attach(1, slave);
  channel.WriteByte(6, 0xB0);
  EXPECT_EQ(master->ReadRegister(6), 0xB0);
  EXPECT_EQ(slave->ReadRegister(6), 0xB0);

  channel.WriteByte(2, 0x5A);
  channel.WriteByte(7, 0xE7);
  ASSERT_EQ(slave->History().size(), 1u);
  EXPECT_EQ(slave->History()[0].count, 0x5A);
  EXPECT_TRUE(master->History().empty());
  EXPECT_EQ(channel.ReadByte(7), kDrdy | kDsc);
  EXPECT_EQ(channel.ReadWord(7), 0xFF00 | kDrdy | kDsc);
}

}  // namespace
}  // namespace brisquel::sim::drivetest
