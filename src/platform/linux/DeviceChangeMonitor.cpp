#include "platform/linux/DeviceChangeMonitor.h"

#include <libudev.h>
#include <unistd.h>

namespace brisquel::linuxpt {

std::optional<std::uint32_t> DeviceChangeCode(std::string_view action) {
  if (action == "add") return DBT_DEVICEARRIVAL_;
  if (action == "remove") return DBT_DEVICEREMOVECOMPLETE_;
  if (action == "change" || action == "move") return DBT_DEVNODES_CHANGED_;
  return std::nullopt;
}

DeviceChangeMonitor::DeviceChangeMonitor() : udev_(udev_new()) {}

DeviceChangeMonitor::~DeviceChangeMonitor() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

bool DeviceChangeMonitor::Start() {
  if (monitor_) return true;
  if (!udev_) return false;
  // udevd's events come after it has made the device node; without udevd
  // (a minimal system) the kernel's own are all there is.
  const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  monitor_ = udev_monitor_new_from_netlink(udev_, source);
  if (!monitor_) return false;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", "disk") < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return false;
  }
  return true;
}

int DeviceChangeMonitor::Fd() const {
  return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<std::uint32_t> DeviceChangeMonitor::ReadEvents() {
  std::vector<std::uint32_t> codes;
  if (!monitor_) return codes;
  while (udev_device* d = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(d);
    if (const auto code = DeviceChangeCode(action ? action : "")) codes.push_back(*code);
    udev_device_unref(d);
  }
  return codes;
}

}  // namespace brisquel::linuxpt
