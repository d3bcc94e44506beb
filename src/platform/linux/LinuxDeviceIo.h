// Device I/O on Linux: disk nodes opened by path, the two pass-through
// requests carried out with SG_IO, and failures reported as the Win32 errors
// that name them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "platform/linux/NvmePassthru.h"
#include "platform/linux/SgTranslate.h"
#include "transport/DeviceIo.h"

namespace brisquel::linuxpt {

// One SG_IO request, described without the kernel's types so that the block
// handling can be tested with a stand-in for the ioctl.
struct SgRequest {
  std::span<const std::uint8_t> cdb;
  SgDirection direction = SgDirection::none;
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::uint32_t timeoutMs = 0;
  std::span<std::uint8_t> sense;  // room for the sense data
};

struct SgResult {
  int error = 0;  // errno when the ioctl itself failed
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  std::int32_t resid = 0;
  std::uint8_t senseLength = 0;
};

using SgRunner = std::function<SgResult(int fd, const SgRequest& request)>;

// The real ioctl(fd, SG_IO, ...).
SgResult RunSgIo(int fd, const SgRequest& request);

// The block layer answers a transfer larger than the disk's queue takes
// (max_hw_sectors_kb) with EIO, which would read as a device fault: that case
// is a request the path cannot carry, EINVAL. queueLimit 0: not known.
int SgIoErrno(int error, std::uint32_t length, std::uint64_t queueLimit);

class LinuxDeviceIo : public DeviceIo {
 public:
  explicit LinuxDeviceIo(SgRunner runner = RunSgIo, NvmeRunner nvme = RunNvmeIoctl);
  ~LinuxDeviceIo() override;
  LinuxDeviceIo(const LinuxDeviceIo&) = delete;
  LinuxDeviceIo& operator=(const LinuxDeviceIo&) = delete;

  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override;
  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  NvmeAdminAnswer NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) override;
  bool CloseHandle(OsHandle handle) override;
  std::uint32_t GetLastError() override { return lastError_; }
  std::string SystemMessageText(std::uint32_t code) override;
  bool CallsBlock() override { return true; }

 private:
  // The descriptor behind an open handle; -1 when there is none.
  int Descriptor(OsHandle handle) const;
  bool Fail(std::uint32_t code);

  SgRunner runner_;
  NvmeRunner nvme_;
  // Handles are our own numbers, never raw descriptors, so a stale or
  // never-opened handle cannot reach a descriptor this class did not open.
  std::map<OsHandle, int> handles_;
  OsHandle nextHandle_ = 0x100;
  std::uint32_t lastError_ = 0;
};

}  // namespace brisquel::linuxpt
