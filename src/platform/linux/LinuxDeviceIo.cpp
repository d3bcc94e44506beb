#include "platform/linux/LinuxDeviceIo.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/Win32Errors.h"
#include "transport/SenseData.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::linuxpt {

namespace {
// The header sizes a block may state in its Length field: the 32-bit and the
// 64-bit layout. The offsets used are always the 64-bit ones.
constexpr std::uint16_t kAtaLength32 = 40;
constexpr std::uint16_t kScsiLength32 = 44;

std::uint32_t TimeoutMs(std::uint32_t seconds) {
  // 0 leaves the kernel's default time-out in force.
  return seconds > 4'000'000u ? 4'000'000'000u : seconds * 1000u;
}

bool Fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Bytes that moved: the length asked for less the residue the kernel reports.
std::uint32_t Moved(std::uint32_t length, std::int32_t resid) {
  if (resid <= 0) return length;
  return static_cast<std::uint32_t>(resid) >= length ? 0
                                                     : length - static_cast<std::uint32_t>(resid);
}
// The largest transfer in bytes the queue of the disk behind fd takes; 0 when
// it cannot be told (not a block device, no sysfs).
std::uint64_t QueueTransferLimit(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
  char base[64];
  std::snprintf(base, sizeof base, "/sys/dev/block/%u:%u", major(st.st_rdev), minor(st.st_rdev));
  // A partition has no queue of its own: its disk's is one level up.
  for (const char* queue : {"/queue/max_hw_sectors_kb", "/../queue/max_hw_sectors_kb"}) {
    if (std::FILE* f = std::fopen((std::string(base) + queue).c_str(), "r")) {
      unsigned long long kb = 0;
      const bool read = std::fscanf(f, "%llu", &kb) == 1;
      std::fclose(f);
      if (read) return kb * 1024;
    }
  }
  return 0;
}
}  // namespace

int SgIoErrno(int error, std::uint32_t length, std::uint64_t queueLimit) {
  return error == EIO && queueLimit != 0 && length > queueLimit ? EINVAL : error;
}

SgResult RunSgIo(int fd, const SgRequest& request) {
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  switch (request.direction) {
    case SgDirection::none:
      hdr.dxfer_direction = SG_DXFER_NONE;
      break;
    case SgDirection::fromDevice:
      hdr.dxfer_direction = SG_DXFER_FROM_DEV;
      break;
    case SgDirection::toDevice:
      hdr.dxfer_direction = SG_DXFER_TO_DEV;
      break;
  }
  hdr.cmd_len = static_cast<unsigned char>(request.cdb.size());
  hdr.cmdp = const_cast<unsigned char*>(request.cdb.data());
  hdr.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(request.sense.size(), 255));
  hdr.sbp = request.sense.data();
  hdr.dxfer_len = request.length;
  hdr.dxferp = request.length ? request.data : nullptr;
  hdr.timeout = request.timeoutMs;
  SgResult result;
  if (ioctl(fd, SG_IO, &hdr) < 0) {
    result.error = errno;
    if (result.error == EIO) result.error = SgIoErrno(EIO, request.length, QueueTransferLimit(fd));
    return result;
  }
  result.status = hdr.status;
  result.hostStatus = hdr.host_status;
  result.driverStatus = hdr.driver_status;
  result.resid = hdr.resid;
  result.senseLength = hdr.sb_len_wr;
  return result;
}

LinuxDeviceIo::LinuxDeviceIo(SgRunner runner) : runner_(std::move(runner)) {}

LinuxDeviceIo::~LinuxDeviceIo() {
  for (const auto& [handle, fd] : handles_) close(fd);
}

bool LinuxDeviceIo::Fail(std::uint32_t code) {
  lastError_ = code;
  return false;
}

OsHandle LinuxDeviceIo::CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                                    std::uint32_t, std::uint32_t, std::uint32_t) {
  const bool read = desiredAccess & (GENERIC_READ_ | GENERIC_ALL_);
  const bool write = desiredAccess & (GENERIC_WRITE_ | GENERIC_ALL_);
  const int mode = write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  // O_NONBLOCK: a removable drive without a medium still opens.
  const int fd = open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = Win32ErrorFromErrno(errno);
    return kInvalidHandle;
  }
  const OsHandle handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = fd;
  return handle;
}

bool LinuxDeviceIo::CloseHandle(OsHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return Fail(win32::ERROR_INVALID_HANDLE_);
  close(it->second);
  handles_.erase(it);
  return true;
}

std::string LinuxDeviceIo::SystemMessageText(std::uint32_t code) {
  return Win32MessageText(code);
}

bool LinuxDeviceIo::DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                                    std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                    std::uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return Fail(win32::ERROR_INVALID_HANDLE_);
  auto* in = static_cast<std::uint8_t*>(inBuffer);
  auto* out = static_cast<std::uint8_t*>(outBuffer);
  if (!in) inSize = 0;
  if (!out) outSize = 0;
  switch (ioControlCode) {
    case IOCTL_ATA_PASS_THROUGH_:
      return AtaPassThrough(it->second, in, inSize, out, outSize, bytesReturned);
    case IOCTL_SCSI_PASS_THROUGH_:
      return ScsiPassThrough(it->second, in, inSize, out, outSize, bytesReturned);
    default:
      return Fail(win32::ERROR_INVALID_FUNCTION_);
  }
}

bool LinuxDeviceIo::AtaPassThrough(int fd, std::uint8_t* in, std::uint32_t inSize,
                                   std::uint8_t* out, std::uint32_t outSize,
                                   std::uint32_t* bytesReturned) {
  using namespace ataptx;
  registersReturned_ = false;
  if (inSize < kHeaderSize || outSize < kHeaderSize) return Fail(win32::ERROR_INVALID_PARAMETER_);
  const std::uint16_t length = GetU16(in + kLength);
  if (length != kHeaderSize && length != kAtaLength32) return Fail(win32::ERROR_INVALID_PARAMETER_);

  AtaPassRequest request;
  request.ataFlags = GetU16(in + kAtaFlags);
  std::memcpy(request.previous.data(), in + kPreviousTaskFile, 8);
  std::memcpy(request.current.data(), in + kCurrentTaskFile, 8);
  const auto direction = AtaDirection(request.ataFlags);
  if (!direction) return Fail(win32::ERROR_INVALID_PARAMETER_);

  std::uint32_t dataLength = 0;
  std::uint8_t* data = nullptr;
  const std::uint64_t dataOffset = GetU64(in + kDataBufferOffset);
  if (*direction != SgDirection::none) {
    // A data command needs a data area behind the header, inside the buffer
    // the data comes from or goes to.
    dataLength = GetU32(in + kDataTransferLength);
    std::uint8_t* area = *direction == SgDirection::fromDevice ? out : in;
    const std::uint32_t areaSize = *direction == SgDirection::fromDevice ? outSize : inSize;
    if (dataLength == 0 || dataOffset < kHeaderSize || !Fits(dataOffset, dataLength, areaSize)) {
      return Fail(win32::ERROR_INVALID_PARAMETER_);
    }
    data = area + dataOffset;
  }

  const Cdb16 cdb = BuildAtaPassThrough16(request, *direction);
  std::uint8_t sense[64] = {};
  SgRequest sg{cdb, *direction, data, dataLength, TimeoutMs(GetU32(in + kTimeOutValue)), sense};
  const SgResult result = runner_(fd, sg);
  if (result.error) return Fail(Win32ErrorFromErrno(result.error));
  if (const auto code = Win32ErrorFromSgIo(result.hostStatus, result.driverStatus)) {
    return Fail(code);
  }

  if (out != in) std::memmove(out, in, kHeaderSize);
  const std::span<const std::uint8_t> returnedSense(
      sense, std::min<std::size_t>(result.senseLength, sizeof sense));
  const AtaTaskFiles files = CompleteAtaRequest(request, result.status, returnedSense);
  // Without sense carrying them, the block holds the request's own registers.
  registersReturned_ =
      result.status == kScsiCheckCondition && ReadSenseData(returnedSense).ata.has_value();
  std::memcpy(out + kPreviousTaskFile, files.previous.data(), 8);
  std::memcpy(out + kCurrentTaskFile, files.current.data(), 8);
  const std::uint32_t moved = Moved(dataLength, result.resid);
  PutU32(out + kDataTransferLength, moved);
  if (bytesReturned) {
    *bytesReturned = *direction == SgDirection::fromDevice
                         ? static_cast<std::uint32_t>(dataOffset + moved)
                         : static_cast<std::uint32_t>(kHeaderSize);
  }
  return true;
}

bool LinuxDeviceIo::ScsiPassThrough(int fd, std::uint8_t* in, std::uint32_t inSize,
                                    std::uint8_t* out, std::uint32_t outSize,
                                    std::uint32_t* bytesReturned) {
  using namespace scsiptx;
  if (inSize < kHeaderSize || outSize < kHeaderSize) return Fail(win32::ERROR_INVALID_PARAMETER_);
  const std::uint16_t length = GetU16(in + kLength);
  if (length != kHeaderSize && length != kScsiLength32)
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  const std::uint8_t cdbLength = in[kCdbLength];
  const std::uint8_t dataIn = in[kDataIn];
  const std::uint32_t dataLength = GetU32(in + kDataTransferLength);
  const std::uint64_t dataOffset = GetU64(in + kDataBufferOffset);
  const std::uint32_t senseOffset = GetU32(in + kSenseInfoOffset);
  const std::uint8_t senseRoom = in[kSenseInfoLength];
  if (cdbLength == 0 || cdbLength > 16 || dataIn > SCSI_IOCTL_DATA_UNSPECIFIED) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }

  SgDirection direction = SgDirection::none;
  std::uint8_t* data = nullptr;
  if (dataLength != 0) {
    if (dataIn == SCSI_IOCTL_DATA_UNSPECIFIED) return Fail(win32::ERROR_INVALID_PARAMETER_);
    direction = dataIn == SCSI_IOCTL_DATA_IN ? SgDirection::fromDevice : SgDirection::toDevice;
    std::uint8_t* area = direction == SgDirection::fromDevice ? out : in;
    const std::uint32_t areaSize = direction == SgDirection::fromDevice ? outSize : inSize;
    if (dataOffset < kHeaderSize || !Fits(dataOffset, dataLength, areaSize)) {
      return Fail(win32::ERROR_INVALID_PARAMETER_);
    }
    data = area + dataOffset;
  }
  if (senseRoom != 0 && (senseOffset < kHeaderSize || !Fits(senseOffset, senseRoom, outSize))) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }

  std::uint8_t cdb[16] = {};
  std::memcpy(cdb, in + kCdb, cdbLength);
  std::uint8_t sense[255] = {};
  SgRequest sg{std::span<const std::uint8_t>(cdb, cdbLength),
               direction,
               data,
               dataLength,
               TimeoutMs(GetU32(in + kTimeOutValue)),
               std::span<std::uint8_t>(sense, senseRoom)};
  const SgResult result = runner_(fd, sg);
  if (result.error) return Fail(Win32ErrorFromErrno(result.error));
  if (const auto code = Win32ErrorFromSgIo(result.hostStatus, result.driverStatus)) {
    return Fail(code);
  }

  if (out != in) std::memmove(out, in, kHeaderSize);
  out[kScsiStatus] = result.status;
  const std::uint8_t senseLength = std::min(result.senseLength, senseRoom);
  if (senseLength) std::memcpy(out + senseOffset, sense, senseLength);
  out[kSenseInfoLength] = senseLength;
  const std::uint32_t moved = Moved(dataLength, result.resid);
  PutU32(out + kDataTransferLength, moved);
  if (bytesReturned) {
    std::uint64_t end = senseLength ? senseOffset + senseLength : kHeaderSize;
    if (direction == SgDirection::fromDevice)
      end = std::max<std::uint64_t>(end, dataOffset + moved);
    *bytesReturned = static_cast<std::uint32_t>(end);
  }
  return true;
}

}  // namespace brisquel::linuxpt
