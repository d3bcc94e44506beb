// brisquel.exe: the window. No command-line options; BRISQUEL_SIM picks the
// simulated bench ("1" for the default one, else a bench file).
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Backend.h"
#include "app/win/WinMainWindow.h"
#include "ui/WindowPlacement.h"

namespace {

using namespace brisquel;

std::filesystem::path ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCmd) {
  const std::filesystem::path program = ProgramPath();
  BackendLoad load = MakeBackend(BackendChoiceFromSetting(std::getenv("BRISQUEL_SIM")));
  if (!load.backend) {
    MessageBoxA(nullptr, load.problem.c_str(), "Brisquel", MB_OK | MB_ICONERROR);
    return 2;
  }
  Backend& backend = *load.backend;
  ProgramState state;

  win::WinMainWindow fmMain(MainPlatform{state, backend.Ports(), backend.Io(), backend.Disks(),
                                         backend.System(), program.parent_path(), backend.Users(),
                                         backend.Clock()},
                            {PlacementFileName(program.filename().string()), {}, {}});
  fmMain.Show(showCmd);
  return fmMain.Run();
}
