// The texts of the window caption: the driver library's start-up state (shown
// when Ctrl is held at start) and the name of the running Windows version.
#pragma once

#include <cstdint>
#include <string>

#include "ui/SystemInfo.h"

namespace brisquel {

std::string DllStatusText(std::int32_t code);
std::string DriverTypeText(std::int32_t code);

// The version name, one space, and "x64" or "x32".
std::string WindowsVersionName(const WindowsVersionData& version);

// "OLS:True  DLL:OK  DRV:..." as the diagnostic caption shows it.
std::string DiagnosticCaption(bool ready, std::int32_t dllStatus, std::int32_t driverType);

// "Brisquel - " and the system's name, then " (without administrator rights)"
// when the program lacks them.
std::string NormalCaption(const std::string& systemName, bool administrator);

}  // namespace brisquel
