// brisquel.exe: the window. No command-line options; BRISQUEL_SIM picks the
// simulated bench ("1" for the default one, else a bench file).
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/win/WinMainWindow.h"
#include "platform/windows/WinDeviceIo.h"
#include "platform/windows/WinDiskEnumerator.h"
#include "platform/windows/WinDiskUsers.h"
#include "platform/windows/WinPortLibrary.h"
#include "platform/windows/WinSystemInfo.h"
#include "sim/Bench.h"
#include "ui/WindowPlacement.h"

namespace {

using namespace brisquel;

// This machine's parts: the setup library is loaded here, before any window.
struct SystemParts {
  winpt::WinDeviceIo io;
  winpt::WinDiskEnumerator disks{io};
  winpt::WinDiskUsers users;
  SystemRetryClock clock;
  // Loaded only when the window runs on this machine.
  std::unique_ptr<winpt::WinPortLibrary> ports;
};

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
  const char* sim = std::getenv("BRISQUEL_SIM");
  std::unique_ptr<sim::Bench> bench;
  SystemParts system;
  if (sim && *sim) {
    if (std::string(sim) == "1") {
      bench = sim::Bench::Default();
    } else {
      sim::BenchLoad load = sim::Bench::FromFile(sim);
      if (!load.bench) {
        MessageBoxA(nullptr, load.error.c_str(), "Brisquel", MB_OK | MB_ICONERROR);
        return 2;
      }
      bench = std::move(load.bench);
    }
  } else {
    system.ports = std::make_unique<winpt::WinPortLibrary>();
  }
  std::unique_ptr<SystemInfo> systemInfo = std::make_unique<winpt::WinSystemInfo>();
  if (bench) systemInfo = std::make_unique<BenchSystemInfo>(std::move(systemInfo));
  ProgramState state;
  PortLibrary& ports = bench ? static_cast<PortLibrary&>(bench->Ports()) : *system.ports;
  DeviceIo& io = bench ? static_cast<DeviceIo&>(bench->Io()) : system.io;
  DiskEnumerator& disks = bench ? static_cast<DiskEnumerator&>(bench->Disks()) : system.disks;
  DiskUsers& users = bench ? bench->Users() : system.users;
  RetryClock& clock = bench ? static_cast<RetryClock&>(bench->Clock()) : system.clock;

  win::WinMainWindow fmMain(
      MainPlatform{state, ports, io, disks, *systemInfo, program.parent_path(), users, clock},
      {PlacementFileName(program.filename().string()), {}});
  fmMain.Show(showCmd);
  return fmMain.Run();
}
