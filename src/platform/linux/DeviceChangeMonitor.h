// Disk arrivals and removals as the window's device-change handler takes
// them: a udev monitor on whole disks whose descriptor a toolkit can watch
// (QSocketNotifier and the like); reading it yields the Windows event codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct udev;
struct udev_monitor;

namespace brisquel::linuxpt {

inline constexpr std::uint32_t DBT_DEVNODES_CHANGED_ = 0x0007;
inline constexpr std::uint32_t DBT_DEVICEARRIVAL_ = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE_ = 0x8004;

// "add" 0x8000, "remove" 0x8004, "change" and "move" 0x0007; nothing for
// actions that do not change the list.
std::optional<std::uint32_t> DeviceChangeCode(std::string_view action);

class DeviceChangeMonitor {
 public:
  DeviceChangeMonitor();
  ~DeviceChangeMonitor();
  DeviceChangeMonitor(const DeviceChangeMonitor&) = delete;
  DeviceChangeMonitor& operator=(const DeviceChangeMonitor&) = delete;

  // Starts listening; false when no monitor can be made here.
  bool Start();
  // Readable when events wait; -1 before a successful Start.
  int Fd() const;
  // The codes of all events waiting now, oldest first; never blocks.
  std::vector<std::uint32_t> ReadEvents();

 private:
  ::udev* udev_ = nullptr;
  ::udev_monitor* monitor_ = nullptr;
};

}  // namespace brisquel::linuxpt
