#include "platform/linux/MountedDisks.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <map>
#include <sstream>

#include "text/Trim.h"

namespace brisquel::linuxpt {
namespace {

constexpr int kMaxStackDepth = 8;  // holders of holders; sysfs has no cycles, but be sure

// Device number -> kernel name of the disk, its partitions and what is stacked on them.
using Devices = std::map<std::string, std::string>;

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Collect(const std::string& dir, SystemFiles& files, Devices& devices, int depth) {
  if (depth > kMaxStackDepth) return;
  if (auto number = files.Read(dir + "/dev")) devices[std::string(TrimEnd(*number, " \n"))] = BaseName(dir);
  for (const std::string& entry : files.List(dir)) {
    // Partitions are subfolders with a "partition" file.
    if (files.Read(dir + "/" + entry + "/partition")) {
      Collect(dir + "/" + entry, files, devices, depth + 1);
    }
  }
  for (const std::string& holder : files.List(dir + "/holders")) {
    Collect("/sys/class/block/" + holder, files, devices, depth + 1);
  }
}

// Mount points escape blanks and the like as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool octal = i + 3 < text.size() &&
                       text.substr(i + 1, 3).find_first_not_of("01234567") == std::string::npos;
    if (text[i] == '\\' && octal) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

const std::string* Find(const Devices& devices, const std::string& number,
                        const std::string& source) {
  if (auto it = devices.find(number); it != devices.end()) return &it->second;
  // btrfs and others show an anonymous number: their source names the device.
  for (const auto& [n, name] : devices) {
    if (source == "/dev/" + name) return &name;
  }
  return nullptr;
}

// nvme0n1, not nvme0 (a controller) nor nvme0c0n1 (one path of a namespace).
bool IsNamespaceName(const std::string& name) {
  std::size_t i = 4;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    return i > start;
  };
  if (name.rfind("nvme", 0) != 0 || !digits() || i >= name.size() || name[i] != 'n') return false;
  ++i;
  return digits() && i == name.size();
}

class RealFiles : public SystemFiles {
 public:
  std::optional<std::string> Read(const std::string& path) override {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::vector<std::string> List(const std::string& dir) override {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(d);
    }
    return names;
  }
  std::optional<std::string> DeviceNumber(const std::string& node) override {
    struct stat st {};
    if (stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  }
};

}  // namespace

DiskUse UsersOfDisk(const std::string& deviceNode, SystemFiles& files) {
  std::vector<std::string> users;
  RunningSystem system = RunningSystem::none;
  const auto number = files.DeviceNumber(deviceNode);
  if (!number) return DiskUse::Free();  // no block device: nothing can be mounted from it
  Devices devices;
  Collect("/sys/dev/block/" + *number, files, devices, 0);
  devices.emplace(*number, BaseName(deviceNode));  // sysfs may be missing

  auto mounts = files.Read("/proc/self/mountinfo");
  if (!mounts) mounts = files.Read("/proc/1/mountinfo");
  if (!mounts) return DiskUse::Unknown("what is mounted cannot be read (/proc/self/mountinfo)");
  std::istringstream lines(*mounts);
  for (std::string line; std::getline(lines, line);) {
    // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPEROPTIONS
    std::istringstream fields(line);
    std::string id, parent, devNumber, root, mountPoint, word;
    fields >> id >> parent >> devNumber >> root >> mountPoint;
    while (fields >> word && word != "-") {
    }
    std::string fsType, source;
    fields >> fsType >> source;
    if (const std::string* name = Find(devices, devNumber, source)) {
      const std::string point = Unescape(mountPoint);
      if (point == "/") system = RunningSystem::linuxRoot;
      users.push_back(point + " is mounted from " + *name +
                      (point == "/" ? " (the running system)" : ""));
    }
  }
  if (auto swaps = files.Read("/proc/swaps")) {
    std::istringstream swapLines(*swaps);
    for (std::string line; std::getline(swapLines, line);) {
      const std::string source = line.substr(0, line.find_first_of(" \t"));
      for (const auto& [n, name] : devices) {
        if (source == "/dev/" + name) users.push_back(name + " is in use as swap");
      }
    }
  }
  if (users.empty()) return DiskUse::Free();
  std::string what;
  for (const std::string& use : users) what += (what.empty() ? "" : "; ") + use;
  return DiskUse::InUse(what, system);
}

DiskUse UsersOfController(const std::string& deviceNode, SystemFiles& files) {
  // The namespace's device is its controller (or, with native multipath, its
  // subsystem), under which every namespace of it is listed.
  std::vector<DiskUse> uses;
  for (const std::string& name : files.List("/sys/block/" + BaseName(deviceNode) + "/device")) {
    if (IsNamespaceName(name)) uses.push_back(UsersOfDisk("/dev/" + name, files));
  }
  if (uses.empty()) return UsersOfDisk(deviceNode, files);
  return CombinedUse(uses);
}

DiskUse LinuxDiskUsers::OfController(const std::string& devicePath) {
  RealFiles files;
  return UsersOfController(devicePath, files);
}

DiskUse LinuxDiskUsers::OfDisk(const std::string& devicePath) {
  RealFiles files;
  return UsersOfDisk(devicePath, files);
}

}  // namespace brisquel::linuxpt
