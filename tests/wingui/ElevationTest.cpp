// When the window starts itself again elevated: only on this machine's drives,
// only without rights, and never a second time.
#include <gtest/gtest.h>

#include "app/win/Elevation.h"

namespace brisquel::win {
namespace {

TEST(Elevation, OnlyWithoutRightsOnThisMachineAndOnce) {
  const std::vector<std::string> started = {"brisquel.exe"};
  const std::vector<std::string> restarted = {"brisquel.exe", kRestartedElevated};
  const struct {
    StartRights start;
    bool restarts;
  } cases[] = {
      {{false, false, started}, true},
      {{false, true, started}, false},
      {{true, false, started}, false},  // the bench needs no rights
      {{false, false, restarted}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShouldRestartElevated(c.start), c.restarts)
        << "bench " << c.start.onBench << ", administrator " << c.start.administrator
        << ", arguments " << c.start.arguments.size();
  }
}

}  // namespace
}  // namespace brisquel::win
