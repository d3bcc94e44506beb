// A device I/O that hands every call to another as it is: the base of those
// that change one part of what a system does and leave the rest.
#pragma once

#include <cstdint>
#include <string>

#include "transport/DeviceIo.h"

namespace brisquel {

class ForwardingDeviceIo : public DeviceIo {
 public:
  explicit ForwardingDeviceIo(DeviceIo& inner) : io_(inner) {}
  OsHandle CreateFileA(const std::string& path, std::uint32_t access, std::uint32_t share,
                       std::uint32_t disposition, std::uint32_t flags) override {
    return io_.CreateFileA(path, access, share, disposition, flags);
  }
  AtaAnswer AtaPassThrough(OsHandle h, const AtaRequest& r) override { return io_.AtaPassThrough(h, r); }
  ScsiAnswer ScsiPassThrough(OsHandle h, const ScsiRequest& r) override {
    return io_.ScsiPassThrough(h, r);
  }
  NvmeAdminAnswer NvmeAdmin(OsHandle h, const NvmeAdminRequest& r) override {
    return io_.NvmeAdmin(h, r);
  }
  bool CloseHandle(OsHandle h) override { return io_.CloseHandle(h); }
  std::uint32_t GetLastError() override { return io_.GetLastError(); }
  std::string SystemMessageText(std::uint32_t code) override { return io_.SystemMessageText(code); }
  bool CallsBlock() override { return io_.CallsBlock(); }
  bool HasFirmwareInterface() override { return io_.HasFirmwareInterface(); }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle h) override { return io_.FirmwareInterface(h); }
  std::uint32_t FirmwareDownload(OsHandle h, const FirmwarePieceRequest& p) override {
    return io_.FirmwareDownload(h, p);
  }
  std::uint32_t FirmwareActivate(OsHandle h, std::uint8_t slot) override {
    return io_.FirmwareActivate(h, slot);
  }

 private:
  DeviceIo& io_;
};

}  // namespace brisquel
