#include "platform/linux/LinuxSystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace brisquel::linuxpt {

std::string ArchitectureWord(std::string_view machine) {
  if (machine == "x86_64") return "x64";
  if (machine.size() == 4 && machine[0] == 'i' && machine[1] >= '3' && machine[1] <= '6' &&
      machine.substr(2) == "86") {
    return "x32";
  }
  return std::string(machine);
}

std::string LinuxSystemName(std::string_view sysname, std::string_view release,
                            std::string_view machine) {
  std::string name(sysname);
  if (!release.empty()) name += " " + std::string(release);
  return name + " " + ArchitectureWord(machine);
}

std::string LinuxSystemInfo::SystemName() {
  utsname u{};
  if (uname(&u) != 0) return LinuxSystemName("Linux", "", "");
  return LinuxSystemName(u.sysname, u.release, u.machine);
}

bool LinuxSystemInfo::HasAdministratorRights() {
  // Port I/O and pass-through to the disks both come with root.
  return geteuid() == 0;
}

}  // namespace brisquel::linuxpt
