// The Windows disk-users answer from the volumes read, and on Wine's own calls.
#include <gtest/gtest.h>

#include "platform/windows/WinDiskUsers.h"

namespace brisquel::winpt {
namespace {

TEST(WinDiskUsers, VolumesReadBecomeTheAnswer) {
  EXPECT_EQ(DiskUseOf({}).state, DiskUse::State::free);
  const DiskUse unknown = DiskUseOf({"the volumes cannot be listed", {"C:\\ is on this disk"}});
  EXPECT_EQ(unknown.state, DiskUse::State::unknown);
  EXPECT_EQ(unknown.what, "the volumes cannot be listed");
  const DiskUse inUse = DiskUseOf({std::nullopt, {"C:\\ is on this disk", "D:\\ is on this disk"}});
  EXPECT_EQ(inUse.state, DiskUse::State::inUse);
  EXPECT_EQ(inUse.what, "C:\\ is on this disk; D:\\ is on this disk");
  EXPECT_EQ(inUse.system, RunningSystem::none);
  EXPECT_EQ(DiskUseOf({std::nullopt, {"C:\\ is on this disk (the Windows volume)"}, true}).system,
            RunningSystem::windows);
}

TEST(WinDiskUsers, WhatCannotBeOpenedIsUnknownAndPortsAreNeverFree) {
  WinDiskUsers users;
  const DiskUse missing = users.OfDisk("\\\\.\\PhysicalDrive99");
  EXPECT_EQ(missing.state, DiskUse::State::unknown);
  EXPECT_EQ(missing.what.rfind("the disk's number cannot be read: ", 0), 0u) << missing.what;
  EXPECT_EQ(users.OfChannel(0x1F0).state, DiskUse::State::unknown);
}

// Wine lists its drives as volumes on no disk of its own: walking them all,
// with their extents, ends in free for its first disk, not in a failed call.
TEST(WinDiskUsers, WinesFirstDiskHoldsNoneOfItsVolumes) {
  WinDiskUsers users;
  const DiskUse use = users.OfDisk("\\\\.\\PhysicalDrive0");
  EXPECT_EQ(use.state, DiskUse::State::free) << use.what;
}

}  // namespace
}  // namespace brisquel::winpt
