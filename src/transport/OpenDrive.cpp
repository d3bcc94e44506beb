#include "transport/OpenDrive.h"

namespace brisquel {

OsHandle OpenDrive(DeviceIo& io, const std::string& path) {
  return io.CreateFileA(path, GENERIC_ALL_, FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_,
                        FILE_ATTRIBUTE_NORMAL_);
}

}  // namespace brisquel
