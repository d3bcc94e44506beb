// What keeps a disk busy on Linux: filesystems mounted from it, from its
// partitions or from devices stacked on them (device mapper, md), and swap.
// A drive that resets into new firmware under them can lose data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/DiskUsers.h"

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

// In use, with every use separated by "; " (e.g. "/ is mounted from sda1 (the
// running system); sda2 is in use as swap"); unknown when the mounts cannot be
// read; free when nothing uses the disk.
DiskUse UsersOfDisk(const std::string& deviceNode, SystemFiles& files);

// The same over every namespace of the NVMe controller the node is a
// namespace of (nvme0n1, nvme0n2, ...); the node alone where sysfs lists none.
DiskUse UsersOfController(const std::string& deviceNode, SystemFiles& files);

// The same on this machine's /proc and /sys. A drive reached through its
// task-file ports is free here: ports a kernel driver holds are refused before
// any command goes out.
class LinuxDiskUsers : public DiskUsers {
 public:
  DiskUse OfDisk(const std::string& devicePath) override;
  DiskUse OfController(const std::string& devicePath) override;
  DiskUse OfChannel(std::uint16_t) override { return DiskUse::Free(); }
};

}  // namespace brisquel::linuxpt
