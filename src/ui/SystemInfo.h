// What the caption needs to know about the running system.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel {

// The raw version data the Windows caption is computed from.
struct WindowsVersionData {
  std::uint32_t platformId = 2;
  std::uint32_t major = 10;
  std::uint32_t minor = 0;
  std::uint32_t buildValue = 19045;
  std::uint32_t productType = 1;  // 1: workstation
  bool wow64 = true;              // "x64" when set
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // The caption's system text: name, one space, architecture word
  // (on Windows from WindowsVersionName; on Linux e.g. "Linux 6.1.0-18-amd64 x64").
  virtual std::string SystemName() = 0;
  // Whether the program runs with the rights that reaching the drives takes
  // (on Linux: as root); without them the caption says so.
  virtual bool HasAdministratorRights() = 0;
};

}  // namespace brisquel
