// brisquel.exe: the window. No command-line options; BRISQUEL_SIM picks the
// simulated bench ("1" for the default one, else a bench file).
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/win/WinMainWindow.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WinDeviceIo.h"
#include "platform/windows/WinDiskEnumerator.h"
#include "platform/windows/WinPortLibrary.h"
#include "platform/windows/WinSystemInfo.h"
#include "sim/Bench.h"
#include "transport/Utf8Path.h"
#include "ui/WindowPlacement.h"

namespace {

using namespace brisquel;

// This machine's parts: the setup library is loaded here, before any window.
struct SystemParts {
  winpt::WinDeviceIo io;
  winpt::WinDiskEnumerator disks{io};
  // Loaded only when the window runs on this machine.
  std::unique_ptr<winpt::WinPortLibrary> ports;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCmd) {
  const std::filesystem::path program = winpt::ProgramPath();
  const std::string sim = winpt::EnvironmentValue(L"BRISQUEL_SIM").value_or("");
  std::unique_ptr<sim::Bench> bench;
  SystemParts system;
  if (!sim.empty()) {
    if (sim == "1") {
      bench = sim::Bench::Default();
    } else {
      sim::BenchLoad load = sim::Bench::FromFile(sim);
      if (!load.bench) {
        MessageBoxW(nullptr, winpt::Wide(load.error).c_str(), L"Brisquel", MB_OK | MB_ICONERROR);
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

  win::WinMainWindow fmMain(
      MainPlatform{state, ports, io, disks, *systemInfo, program.parent_path()},
      {PlacementFileName(Utf8Of(program.filename())), {}});
  fmMain.Show(showCmd);
  return fmMain.Run();
}
