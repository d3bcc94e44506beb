#include "ui/CaptionTexts.h"

#include <array>
#include <optional>
#include <string_view>

namespace brisquel {
namespace {

// Codes are compared as unsigned 32-bit values: a status of -1 is 4294967295.
std::uint32_t AsUnsigned(std::int32_t code) {
  return static_cast<std::uint32_t>(code);
}

constexpr std::array<std::string_view, 6> kDllStatusTexts = {
    "OK",
    "Unsupported Platform",
    "Driver not loaded",
    "Driver not found",
    "Driver unloaded by other process",
    "Driver not loaded because of executing on Network Drive (1.0.8 or later)",
};
static_assert(kDllStatusTexts.size() == 6);

// Index 0 is also the text of every code the table does not know.
constexpr std::array<std::string_view, 6> kDriverTypeTexts = {
    "Unknown Type (Error)",
    "Windows 9x",
    "Windows NT4/2000/XP/Vista or later [x86]",
    "Windows NT4 [x86] (Not supported Kernel mode SEH)",
    "Windows XP/Vista or later [x64]",
    "Reserved for IA64",
};
static_assert(kDriverTypeTexts.size() == 6);

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

std::string DllStatusText(std::int32_t code) {
  const std::uint32_t u = AsUnsigned(code);
  if (u < kDllStatusTexts.size()) return std::string(kDllStatusTexts[u]);
  return "Unknown error " + std::to_string(u);
}

std::string DriverTypeText(std::int32_t code) {
  const std::uint32_t u = AsUnsigned(code);
  return std::string(kDriverTypeTexts[u < kDriverTypeTexts.size() ? u : 0]);
}

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

std::string DiagnosticCaption(bool ready, std::int32_t dllStatus, std::int32_t driverType) {
  return std::string("OLS:") + (ready ? "True" : "False") + "  DLL:" + DllStatusText(dllStatus) +
         "  DRV:" + DriverTypeText(driverType);
}

std::string NormalCaption(const std::string& systemName, bool administrator) {
  return "Brisquel - " + systemName + (administrator ? "" : " (without administrator rights)");
}

}  // namespace brisquel
