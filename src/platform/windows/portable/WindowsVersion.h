// The name of a Windows version, from the numbers the system keeps. Free of
// the system's headers, so that the table is checked on every build machine.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel::winpt {

// The raw version data the Windows caption is computed from.
struct WindowsVersionData {
  std::uint32_t platformId = 2;
  std::uint32_t major = 10;
  std::uint32_t minor = 0;
  std::uint32_t buildValue = 19045;
  std::uint32_t productType = 1;  // 1: workstation
  bool wow64 = true;              // "x64" when set
};

// The version name, one space, and "x64" or "x32".
std::string WindowsVersionName(const WindowsVersionData& version);

}  // namespace brisquel::winpt
