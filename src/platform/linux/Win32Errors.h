// The Win32 error codes the Linux backend reports, where they come from
// (errno values and SG_IO completion fields). Their texts are the shared
// Win32MessageText.
#pragma once

#include <cstdint>
#include <string>

#include "transport/Win32Messages.h"

namespace brisquel::linuxpt {

// The Win32 error that names what an errno value means for a device request.
std::uint32_t Win32ErrorFromErrno(int error);

// SG_IO came back from the kernel: 0 when the command reached the device and
// completed (with whatever SCSI status), else the Win32 error that names why
// it did not (time-out, device gone, transport failure).
std::uint32_t Win32ErrorFromSgIo(std::uint16_t hostStatus, std::uint16_t driverStatus);

}  // namespace brisquel::linuxpt
