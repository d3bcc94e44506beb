// The texts of the window caption: the driver library's start-up state (shown
// when Ctrl is held at start) and the system's name; and what that state means
// for PIO mode.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel {

std::string DllStatusText(std::int32_t code);
std::string DriverTypeText(std::int32_t code);

// "OLS:True  DLL:OK  DRV:..." as the diagnostic caption shows it.
std::string DiagnosticCaption(bool ready, std::int32_t dllStatus, std::int32_t driverType);

// "Brisquel - " and the system's name, then " (without administrator rights)"
// when the program lacks them.
std::string NormalCaption(const std::string& systemName, bool administrator);

// The log's line when PIO mode finds no port I/O: the library's status, and
// what to do (administrator rights lift a driver that was not loaded).
std::string NoPortIoLine(std::int32_t dllStatus, bool administrator);

}  // namespace brisquel
