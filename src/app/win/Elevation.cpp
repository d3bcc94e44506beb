#include "app/win/Elevation.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>

#include "platform/windows/WideText.h"

namespace brisquel::win {

bool ShouldRestartElevated(const StartRights& start) {
  if (start.onBench || start.administrator) return false;
  return std::find(start.arguments.begin(), start.arguments.end(), kRestartedElevated) ==
         start.arguments.end();
}

bool RestartElevated(const std::filesystem::path& program) {
  const std::wstring file = program.wstring();
  const std::wstring parameters = winpt::Wide(kRestartedElevated);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace brisquel::win
