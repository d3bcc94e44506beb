// brisquel.exe: the window. No command-line options (but the mark of its own
// elevated restart); BRISQUEL_SIM picks the simulated bench ("1" for the
// default one, else a bench file).
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/Backend.h"
#include "app/BenchState.h"
#include "app/win/Elevation.h"
#include "app/win/WinMainWindow.h"
#include "platform/windows/WideText.h"
#include "transport/Utf8Path.h"
#include "ui/WindowPlacement.h"

using namespace brisquel;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCmd) {
  const std::filesystem::path program = winpt::ProgramPath();
  const std::optional<std::string> sim = winpt::EnvironmentValue(L"BRISQUEL_SIM");
  const BackendChoice choice = BackendChoiceFromSetting(sim ? sim->c_str() : nullptr);
  if (!choice.bench) {
    const std::unique_ptr<SystemInfo> system = MakeSystemInfo();
    const win::StartRights rights{false, system && system->HasAdministratorRights(),
                                  winpt::CommandLineWords()};
    if (win::ShouldRestartElevated(rights) && win::RestartElevated(program)) return 0;
  }
  BackendLoad load = MakeBackend(choice);
  if (!load.backend) {
    MessageBoxW(nullptr, winpt::Wide(load.problem).c_str(), L"Brisquel", MB_OK | MB_ICONERROR);
    return 2;
  }
  Backend& backend = *load.backend;
  ProgramState state;

  win::WinMainWindow fmMain(MainPlatform{state, backend.Ports(), backend.Io(), backend.Disks(),
                                         backend.System(), program.parent_path(), backend.Users(),
                                         backend.Clock()},
                            {PlacementFileName(Utf8Of(program.filename())), {}, {}});
  BenchMemory memory(backend, choice.benchFile);
  WatchBenchMemory(fmMain.Logic(), memory);
  fmMain.Show(showCmd);
  return fmMain.Run();
}
