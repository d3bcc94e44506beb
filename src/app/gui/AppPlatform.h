// What the window runs on: the backend BRISQUEL_SIM chooses, and on this
// machine the feed of device changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Backend.h"
#include "app/BenchState.h"
#include "ui/uMain.h"

namespace brisquel::gui {

// A descriptor that becomes readable when device changes wait, and the read
// that turns them into event codes.
struct DeviceChangeFeed {
  int fd = -1;
  std::function<std::vector<std::uint32_t>()> read;
};

class AppPlatform {
 public:
  AppPlatform();
  ~AppPlatform();
  AppPlatform(const AppPlatform&) = delete;
  AppPlatform& operator=(const AppPlatform&) = delete;

  MainPlatform Platform();
  // No descriptor on the bench, or where the system gives no monitor.
  DeviceChangeFeed DeviceChanges() { return changes_; }
  // Where the system's port library tells why it leaves a port alone.
  void SetNoticeLog(std::function<void(const std::string&)> log);
  // On the bench: the state the command line keeps too, read at start and
  // written after each download.
  BenchMemory& Memory() { return *memory_; }

 private:
  friend struct AppPlatformLoader;
  struct Monitor;

  std::unique_ptr<ProgramState> state_;
  std::unique_ptr<Backend> backend_;
  std::unique_ptr<BenchMemory> memory_;
  std::unique_ptr<Monitor> monitor_;
  std::filesystem::path programDir_;
  DeviceChangeFeed changes_;
};

struct AppPlatformLoad {
  std::unique_ptr<AppPlatform> platform;  // null on error
  std::string error;
};

// simSetting is BRISQUEL_SIM's value (null when unset); programDir is where
// the PCI name files are looked for.
AppPlatformLoad MakeAppPlatform(const char* simSetting, std::filesystem::path programDir);

}  // namespace brisquel::gui
