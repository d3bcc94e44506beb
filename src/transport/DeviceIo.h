// The operating system's device I/O as the pass-through transports use it:
// open a drive, hand it a pass-through request, close it, and the last error
// of an open or close. The Windows backend makes the real calls with the
// system's request blocks; the Linux backend carries requests out with SG_IO;
// the bench runs them on simulated drives.
#pragma once

#include <cstdint>
#include <string>

#include "transport/AtaTypes.h"
#include "transport/FirmwareInterface.h"
#include "transport/NvmeRequest.h"
#include "transport/PassThroughRequest.h"

namespace brisquel {

// Win32 constants used across the layers; the trailing underscore keeps them
// clear of the macros of the same names in the Windows headers.
inline constexpr std::uint32_t GENERIC_READ_ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE_ = 0x40000000u;
inline constexpr std::uint32_t GENERIC_ALL_ = 0x10000000u;
inline constexpr std::uint32_t FILE_SHARE_READ_ = 1;
inline constexpr std::uint32_t FILE_SHARE_WRITE_ = 2;
inline constexpr std::uint32_t OPEN_EXISTING_ = 3;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL_ = 0x80;

namespace win32 {
inline constexpr std::uint32_t ERROR_SUCCESS_ = 0;
inline constexpr std::uint32_t ERROR_INVALID_FUNCTION_ = 1;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND_ = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND_ = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED_ = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE_ = 6;
inline constexpr std::uint32_t ERROR_NOT_READY_ = 21;
inline constexpr std::uint32_t ERROR_GEN_FAILURE_ = 31;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED_ = 50;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER_ = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_ = 122;
inline constexpr std::uint32_t ERROR_SEM_TIMEOUT_ = 121;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS_ = 259;
inline constexpr std::uint32_t ERROR_IO_DEVICE_ = 1117;
inline constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED_ = 1167;
}  // namespace win32

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Returns kInvalidHandle on failure and sets the last error.
  virtual OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                               std::uint32_t shareMode, std::uint32_t creationDisposition,
                               std::uint32_t flagsAndAttributes) = 0;
  // One command each. They may block for as long as the request's time limit.
  virtual AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) = 0;
  virtual ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) = 0;
  // An NVMe admin command on a controller's (or namespace's) handle; a system
  // that cannot carry one says so.
  virtual NvmeAdminAnswer NvmeAdmin(OsHandle, const NvmeAdminRequest&) {
    return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_NOT_SUPPORTED_);
  }
  virtual bool CloseHandle(OsHandle handle) = 0;
  virtual std::uint32_t GetLastError() = 0;
  // The system's own message text for an error code, untrimmed.
  virtual std::string SystemMessageText(std::uint32_t code) = 0;
  // Whether a pass-through call may block for as long as a command's time limit
  // (the system's does), so the transports wait for it on a worker thread;
  // one that answers at once (the bench) is called inline.
  virtual bool CallsBlock() { return false; }

  // Windows' storage firmware interface on an open disk; a system without it
  // (Linux, the bench) is never asked. The calls answer the system's error, 0
  // when done.
  virtual bool HasFirmwareInterface() { return false; }
  virtual FirmwareInterfaceInfo FirmwareInterface(OsHandle) { return {}; }
  virtual std::uint32_t FirmwareDownload(OsHandle, const FirmwarePieceRequest&) {
    return win32::ERROR_INVALID_FUNCTION_;
  }
  virtual std::uint32_t FirmwareActivate(OsHandle, std::uint8_t) {
    return win32::ERROR_INVALID_FUNCTION_;
  }
};


// A device I/O that hands every call to another as it is: the base of the
// layers that change one kind of call (record it, carry it another way) and
// leave the rest alone.
class ForwardingDeviceIo : public DeviceIo {
 public:
  explicit ForwardingDeviceIo(DeviceIo& inner) : inner_(inner) {}
  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override {
    return inner_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                              flagsAndAttributes);
  }
  AtaAnswer AtaPassThrough(OsHandle h, const AtaRequest& r) override {
    return inner_.AtaPassThrough(h, r);
  }
  ScsiAnswer ScsiPassThrough(OsHandle h, const ScsiRequest& r) override {
    return inner_.ScsiPassThrough(h, r);
  }
  NvmeAdminAnswer NvmeAdmin(OsHandle h, const NvmeAdminRequest& r) override {
    return inner_.NvmeAdmin(h, r);
  }
  bool CloseHandle(OsHandle h) override { return inner_.CloseHandle(h); }
  std::uint32_t GetLastError() override { return inner_.GetLastError(); }
  std::string SystemMessageText(std::uint32_t code) override {
    return inner_.SystemMessageText(code);
  }
  bool CallsBlock() override { return inner_.CallsBlock(); }
  bool HasFirmwareInterface() override { return inner_.HasFirmwareInterface(); }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle h) override {
    return inner_.FirmwareInterface(h);
  }
  std::uint32_t FirmwareDownload(OsHandle h, const FirmwarePieceRequest& piece) override {
    return inner_.FirmwareDownload(h, piece);
  }
  std::uint32_t FirmwareActivate(OsHandle h, std::uint8_t slot) override {
    return inner_.FirmwareActivate(h, slot);
  }

 protected:
  DeviceIo& inner_;
};

}  // namespace brisquel
