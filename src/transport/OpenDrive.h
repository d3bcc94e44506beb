// Opening a drive for the pass-through transports.
#pragma once

#include <string>

#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"

namespace brisquel {

// CreateFileA with full access, shared read/write, OPEN_EXISTING. Returns the
// handle or kInvalidHandle; reports nothing itself.
OsHandle OpenDrive(DeviceIo& io, const std::string& path);

}  // namespace brisquel
