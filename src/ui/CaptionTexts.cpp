#include "ui/CaptionTexts.h"

#include <array>
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

std::string DiagnosticCaption(bool ready, std::int32_t dllStatus, std::int32_t driverType) {
  return std::string("OLS:") + (ready ? "True" : "False") + "  DLL:" + DllStatusText(dllStatus) +
         "  DRV:" + DriverTypeText(driverType);
}

std::string NormalCaption(const std::string& systemName, bool administrator) {
  return "Brisquel - " + systemName + (administrator ? "" : " (without administrator rights)");
}

std::string NoPortIoLine(std::int32_t dllStatus, bool administrator) {
  constexpr std::int32_t kDriverNotLoaded = 2;
  return "PIO mode needs port I/O, which the port library could not give (" +
         DllStatusText(dllStatus) + "): " +
         (dllStatus == kDriverNotLoaded && !administrator
              ? "run Brisquel with administrator rights, or use API mode"
              : "use API mode");
}

}  // namespace brisquel
