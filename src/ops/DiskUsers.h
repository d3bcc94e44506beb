// What holds a disk: mounted filesystems, swap or page files, the running
// system. A drive that resets into new firmware under them can lose data, so a
// download that switches or stores firmware asks first. What cannot be told is
// never taken for free.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brisquel {

// The system this program runs on, when the disk holds it: a drive that
// switches firmware at once under it can stop it, and each system has its own
// safe way round.
enum class RunningSystem { none, windows, linuxRoot };

struct DiskUse {
  enum class State { free, inUse, unknown };
  State state = State::unknown;
  // inUse: what holds the disk ("/ is mounted from sda1"); unknown: why it
  // cannot be told. Empty when free.
  std::string what;
  RunningSystem system = RunningSystem::none;  // inUse only

  static DiskUse Free() { return {State::free, {}}; }
  static DiskUse InUse(std::string what, RunningSystem system = RunningSystem::none) {
    return {State::inUse, std::move(what), system};
  }
  static DiskUse Unknown(std::string why) { return {State::unknown, std::move(why)}; }
};

// Several disks' uses as one: in use where any is (every use said, the
// running system kept), else unknown where any cannot be told, else free.
DiskUse CombinedUse(const std::vector<DiskUse>& uses);

class DiskUsers {
 public:
  virtual ~DiskUsers() = default;
  // The disk at this device path (a line of the drive list).
  virtual DiskUse OfDisk(const std::string& devicePath) = 0;
  // Every disk (namespace) of the NVMe controller this disk belongs to,
  // where a system tells them apart; the disk alone otherwise.
  virtual DiskUse OfController(const std::string& devicePath) { return OfDisk(devicePath); }
  // The drive on the task-file channel at this base port.
  virtual DiskUse OfChannel(std::uint16_t basePort) = 0;
};

}  // namespace brisquel
