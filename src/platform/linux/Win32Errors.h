// The Win32 error codes the Linux backend reports, where they come from
// (errno values and SG_IO completion fields), and the English message texts
// Windows gives for them, so that a log line reads the same on both systems.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel::linuxpt {

// The Win32 error that names what an errno value means for a device request.
std::uint32_t Win32ErrorFromErrno(int error);

// SG_IO came back from the kernel: 0 when the command reached the device and
// completed (with whatever SCSI status), else the Win32 error that names why
// it did not (time-out, device gone, transport failure).
std::uint32_t Win32ErrorFromSgIo(std::uint16_t hostStatus, std::uint16_t driverStatus);

// Windows' own message text for the code, with its "\r\n" ending; "" for a
// code Windows has no text for here.
std::string Win32MessageText(std::uint32_t code);

}  // namespace brisquel::linuxpt
