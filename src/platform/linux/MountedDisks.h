// What keeps a disk busy on Linux: filesystems mounted from it, from its
// partitions or from devices stacked on them (device mapper, md), and swap.
// A drive that resets into new firmware under them can lose data.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brisquel::linuxpt {

// The files the check reads, so that it can be tested without a system.
class SystemFiles {
 public:
  virtual ~SystemFiles() = default;
  virtual std::optional<std::string> Read(const std::string& path) = 0;
  // The names in a directory; empty when it cannot be listed.
  virtual std::vector<std::string> List(const std::string& dir) = 0;
  // The device number ("8:0") of a block device node, none for anything else.
  virtual std::optional<std::string> DeviceNumber(const std::string& node) = 0;
};

// One line per use, e.g. "/ is mounted from sda1 (the running system)" or
// "sda2 is in use as swap"; a line saying so when the mounts cannot be read.
// Empty when nothing uses the disk.
std::vector<std::string> DiskUsers(const std::string& deviceNode, SystemFiles& files);
// The same on this machine's /proc and /sys.
std::vector<std::string> DiskUsers(const std::string& deviceNode);

}  // namespace brisquel::linuxpt
