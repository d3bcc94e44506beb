// The caption's system text on Linux: the kernel's name and release and the
// architecture word, e.g. "Linux 6.1.0-18-amd64 x64".
#pragma once

#include <string>
#include <string_view>

#include "ui/SystemInfo.h"

namespace brisquel::linuxpt {

// "x64" for x86_64, "x32" for i386..i686, else the machine word as uname gives it.
std::string ArchitectureWord(std::string_view machine);
std::string LinuxSystemName(std::string_view sysname, std::string_view release,
                            std::string_view machine);

class LinuxSystemInfo : public SystemInfo {
 public:
  std::string SystemName() override;
  bool HasAdministratorRights() override;
};

}  // namespace brisquel::linuxpt
