// Windows' own English message texts for the Win32 error codes the device
// layers report, so that a log line reads the same whichever system or bench
// produced the error.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel {

// The text with its "\r\n" ending, as the system gives it; "" for a code with
// no text here.
std::string Win32MessageText(std::uint32_t code);

}  // namespace brisquel
