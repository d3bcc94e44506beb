// The operating system's device I/O as it is: CreateFileA, DeviceIoControl
// (with the pass-through requests as the system's request blocks), CloseHandle,
// the thread's last error and the system's own message texts.
#pragma once

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeQuery.h"
#include "platform/windows/portable/PassThroughBlocks.h"
#include "transport/DeviceIo.h"

namespace brisquel::winpt {

class WinDeviceIo : public DeviceIo, public IoControl {
 public:
  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override;
  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  // Identify and Get Log Page through the storage stack's query; the rest
  // refused (see NvmeAdminThroughQuery).
  NvmeAdminAnswer NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) override;
  bool DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(OsHandle handle) override;
  std::uint32_t GetLastError() override;
  // FormatMessageA's text in the language the system chooses, with its line
  // end; "" for a code the system has no text for.
  std::string SystemMessageText(std::uint32_t code) override;
  bool CallsBlock() override { return true; }
  bool HasFirmwareInterface() override { return true; }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle handle) override;
  std::uint32_t FirmwareDownload(OsHandle handle, const FirmwarePieceRequest& piece) override;
  std::uint32_t FirmwareActivate(OsHandle handle, std::uint8_t slot, bool switchToExisting) override;
};

}  // namespace brisquel::winpt
