#include "platform/windows/portable/WindowsVersion.h"

#include <array>
#include <optional>
#include <string_view>

namespace brisquel::winpt {
namespace {

struct VersionRow {
  std::uint32_t platformId;
  std::optional<std::uint32_t> major;
  std::optional<std::uint32_t> minor;
  std::optional<std::uint32_t> buildValue;
  std::string_view workstation;
  std::string_view server;
};

// Tried top to bottom; the first row that matches names the system.
constexpr std::array<VersionRow, 14> kVersionRows = {{
    {0, {}, {}, {}, "Win32s", "Win32s"},
    {1, 4, {}, 950, "Windows 95", "Windows 95"},
    {1, 4, 10, 1998, "Windows 98", "Windows 98"},
    {1, {}, 90, {}, "Windows Me", "Windows Me"},
    {2, 3, {}, {}, "Windows NT 3.51", "Windows NT 3.51"},
    {2, 4, {}, {}, "Windows NT 4.0", "Windows NT 4.0"},
    {2, 5, 0, {}, "Windows 2000", "Windows 2000"},
    {2, 5, 1, {}, "Windows XP", "Windows XP"},
    {2, 5, 2, {}, "Windows Server 2003", "Windows Server 2003"},
    {2, 6, 0, {}, "Windows Vista", "Windows Server 2008"},
    {2, 6, 1, {}, "Windows 7", "Windows Server 2008 R2"},
    {2, 6, 2, {}, "Windows 8", "Windows Server 2012"},
    {2, 6, 3, {}, "Windows 8.1", "Windows Server 2012 R2"},
    {2, 10, 0, {}, "Windows 10", "Windows Server 2016"},
}};
static_assert(kVersionRows.size() == 14);

bool Matches(const std::optional<std::uint32_t>& want, std::uint32_t have) {
  return !want || *want == have;
}

}  // namespace

std::string WindowsVersionName(const WindowsVersionData& v) {
  std::string_view name = "Windows";
  for (const VersionRow& row : kVersionRows) {
    if (row.platformId == v.platformId && Matches(row.major, v.major) &&
        Matches(row.minor, v.minor) && Matches(row.buildValue, v.buildValue)) {
      name = v.productType == 1 ? row.workstation : row.server;
      break;
    }
  }
  return std::string(name) + (v.wow64 ? " x64" : " x32");
}

}  // namespace brisquel::winpt
