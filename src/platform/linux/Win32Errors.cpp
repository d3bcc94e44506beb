#include "platform/linux/Win32Errors.h"

#include <cerrno>

#include "transport/DeviceIo.h"

namespace brisquel::linuxpt {

namespace {
constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr std::uint32_t ERROR_WRITE_PROTECT = 19;
constexpr std::uint32_t ERROR_BUSY = 170;
constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr std::uint32_t ERROR_NOACCESS = 998;

// host_status values of the SCSI midlayer (DID_*), as SG_IO reports them.
constexpr std::uint16_t DID_OK = 0x00;
constexpr std::uint16_t DID_NO_CONNECT = 0x01;
constexpr std::uint16_t DID_BUS_BUSY = 0x02;
constexpr std::uint16_t DID_TIME_OUT = 0x03;
constexpr std::uint16_t DID_BAD_TARGET = 0x04;
// driver_status: DRIVER_SENSE only says sense data is valid; DRIVER_TIMEOUT
// is the one other value that names something of its own.
constexpr std::uint16_t DRIVER_TIMEOUT = 0x06;
constexpr std::uint16_t DRIVER_SENSE = 0x08;
}  // namespace

std::uint32_t Win32ErrorFromErrno(int error) {
  using namespace win32;
  switch (error) {
    case 0:
      return ERROR_SUCCESS_;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND_;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND_;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED_;
    case EBADF:
      return ERROR_INVALID_HANDLE_;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOMEDIUM:
      return ERROR_NOT_READY_;
    // An ioctl the node does not know: not ERROR_INVALID_FUNCTION, which the
    // SCSI path counts as success.
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED_;
    case EINVAL:
      return ERROR_INVALID_PARAMETER_;
    case EFAULT:
      return ERROR_NOACCESS;
    case EBUSY:
      return ERROR_BUSY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ETIMEDOUT:
      return ERROR_SEM_TIMEOUT_;
    case EIO:
      return ERROR_IO_DEVICE_;
    case ENXIO:
    case ENODEV:
      return ERROR_DEVICE_NOT_CONNECTED_;
    default:
      return ERROR_GEN_FAILURE_;
  }
}

std::uint32_t Win32ErrorFromSgIo(std::uint16_t hostStatus, std::uint16_t driverStatus) {
  using namespace win32;
  if ((driverStatus & 0x0F) == DRIVER_TIMEOUT) return ERROR_SEM_TIMEOUT_;
  switch (hostStatus) {
    case DID_OK:
      break;
    case DID_TIME_OUT:
      return ERROR_SEM_TIMEOUT_;
    case DID_NO_CONNECT:
    case DID_BAD_TARGET:
      return ERROR_DEVICE_NOT_CONNECTED_;
    case DID_BUS_BUSY:
      return ERROR_BUSY;
    default:
      return ERROR_IO_DEVICE_;
  }
  if ((driverStatus & 0x0F) != 0 && (driverStatus & 0x0F) != DRIVER_SENSE) return ERROR_IO_DEVICE_;
  return ERROR_SUCCESS_;
}

}  // namespace brisquel::linuxpt
