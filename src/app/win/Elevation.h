// The window runs with the rights it is started with. On this machine's drives
// it needs administrator rights, so without them it starts itself again
// elevated, once; declined, it runs on and its caption says so. The bench
// needs no rights, and an elevated process would not see BRISQUEL_SIM.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brisquel::win {

// The argument the elevated copy is started with, so that it never asks again
// (with the consent prompt off, "runas" starts it without rights).
inline constexpr const char* kRestartedElevated = "--restarted-elevated";

struct StartRights {
  bool onBench = false;
  bool administrator = false;
  std::vector<std::string> arguments;  // the program's name first
};

bool ShouldRestartElevated(const StartRights& start);

// Starts the program again through the elevation prompt; false when the user
// declines or it cannot start.
bool RestartElevated(const std::filesystem::path& program);

}  // namespace brisquel::win
