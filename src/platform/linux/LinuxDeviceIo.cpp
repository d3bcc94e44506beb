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

namespace brisquel::linuxpt {

namespace {
std::uint32_t TimeoutMs(std::uint32_t seconds) {
  // 0 leaves the kernel's default time-out in force.
  return seconds > 4'000'000u ? 4'000'000'000u : seconds * 1000u;
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

LinuxDeviceIo::LinuxDeviceIo(SgRunner runner, NvmeRunner nvme)
    : runner_(std::move(runner)), nvme_(std::move(nvme)) {}

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

int LinuxDeviceIo::Descriptor(OsHandle handle) const {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? -1 : it->second;
}

namespace {

// The system's refusal of a request that did not reach the device: the ioctl
// failed, or the host or driver says the command went nowhere. 0: it reached it.
std::uint32_t SystemRefusal(const SgResult& result) {
  if (result.error) return Win32ErrorFromErrno(result.error);
  return Win32ErrorFromSgIo(result.hostStatus, result.driverStatus);
}

}  // namespace

AtaAnswer LinuxDeviceIo::AtaPassThrough(OsHandle handle, const AtaRequest& request) {
  const int fd = Descriptor(handle);
  if (fd < 0) return RefusedAnswer<AtaAnswer>(win32::ERROR_INVALID_HANDLE_);
  if (!WellFormed(request)) {
    return RefusedAnswer<AtaAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }
  const Cdb16 cdb = BuildAtaPassThrough16(request);
  std::uint8_t sense[64] = {};
  const auto length = static_cast<std::uint32_t>(request.data.size());
  const SgRequest sg{cdb,    SgDirectionOf(request.direction), request.data.data(),
                     length, TimeoutMs(request.timeLimit),     sense};
  const SgResult result = runner_(fd, sg);
  if (const std::uint32_t refusal = SystemRefusal(result)) return RefusedAnswer<AtaAnswer>(refusal);

  const std::span<const std::uint8_t> returnedSense(
      sense, std::min<std::size_t>(result.senseLength, sizeof sense));
  AtaAnswer answer = CompleteAtaRequest(request, result.status, returnedSense);
  answer.bytesMoved = Moved(length, result.resid);
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

ScsiAnswer LinuxDeviceIo::ScsiPassThrough(OsHandle handle, const ScsiRequest& request) {
  const int fd = Descriptor(handle);
  if (fd < 0) return RefusedAnswer<ScsiAnswer>(win32::ERROR_INVALID_HANDLE_);
  if (!WellFormed(request)) {
    return RefusedAnswer<ScsiAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }
  const auto length = static_cast<std::uint32_t>(request.data.size());
  std::uint8_t sense[kScsiSenseRoom] = {};
  const SgRequest sg{
      request.cdb.Sent(),           length ? SgDirectionOf(request.direction) : SgDirection::none,
      request.data.data(),          length,
      TimeoutMs(request.timeLimit), sense};
  const SgResult result = runner_(fd, sg);
  if (const std::uint32_t refusal = SystemRefusal(result))
    return RefusedAnswer<ScsiAnswer>(refusal);

  ScsiAnswer answer;
  answer.scsiStatus = result.status;
  answer.sense.assign(sense, sense + std::min<std::size_t>(result.senseLength, sizeof sense));
  answer.bytesMoved = Moved(length, result.resid);
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

NvmeAdminAnswer LinuxDeviceIo::NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) {
  const int fd = Descriptor(handle);
  if (fd < 0) return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_INVALID_HANDLE_);
  if (!WellFormed(request) || !DirectionMatchesOpcode(request)) {
    return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }
  NvmePassthruBlock block =
      BuildNvmePassthru(request, reinterpret_cast<std::uintptr_t>(request.data.data()));
  const NvmeIoctlResult result = nvme_(fd, block);
  return NvmeAnswerFrom(request, result, block);
}

}  // namespace brisquel::linuxpt
