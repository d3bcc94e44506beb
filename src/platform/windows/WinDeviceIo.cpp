#include "platform/windows/WinDeviceIo.h"

#include <windows.h>
// After windows.h, which it needs.
#include <ntddscsi.h>

#include <cstddef>

namespace brisquel::winpt {

// The blocks are built without the system's headers; here they must agree.
static_assert(IOCTL_ATA_PASS_THROUGH == IOCTL_ATA_PASS_THROUGH_);
static_assert(IOCTL_SCSI_PASS_THROUGH == IOCTL_SCSI_PASS_THROUGH_);
static_assert(sizeof(ATA_PASS_THROUGH_EX) == ataptx::kHeaderSize);
static_assert(offsetof(ATA_PASS_THROUGH_EX, Length) == ataptx::kLength);
static_assert(offsetof(ATA_PASS_THROUGH_EX, AtaFlags) == ataptx::kAtaFlags);
static_assert(offsetof(ATA_PASS_THROUGH_EX, PathId) == ataptx::kPathId);
static_assert(offsetof(ATA_PASS_THROUGH_EX, TargetId) == ataptx::kTargetId);
static_assert(offsetof(ATA_PASS_THROUGH_EX, Lun) == ataptx::kLun);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataTransferLength) == ataptx::kDataTransferLength);
static_assert(offsetof(ATA_PASS_THROUGH_EX, TimeOutValue) == ataptx::kTimeOutValue);
static_assert(offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset) == ataptx::kDataBufferOffset);
static_assert(offsetof(ATA_PASS_THROUGH_EX, PreviousTaskFile) == ataptx::kPreviousTaskFile);
static_assert(offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile) == ataptx::kCurrentTaskFile);
static_assert(ATA_FLAGS_DRDY_REQUIRED == ataptx::ATA_FLAGS_DRDY_REQUIRED_);
static_assert(ATA_FLAGS_DATA_IN == ataptx::ATA_FLAGS_DATA_IN_);
static_assert(ATA_FLAGS_DATA_OUT == ataptx::ATA_FLAGS_DATA_OUT_);
static_assert(ATA_FLAGS_48BIT_COMMAND == ataptx::ATA_FLAGS_48BIT_COMMAND_);
static_assert(sizeof(SCSI_PASS_THROUGH) == scsiptx::kHeaderSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == scsiptx::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == scsiptx::kScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == scsiptx::kPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == scsiptx::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == scsiptx::kLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == scsiptx::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == scsiptx::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == scsiptx::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == scsiptx::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == scsiptx::kTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == scsiptx::kDataBufferOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == scsiptx::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == scsiptx::kCdb);
static_assert(SCSI_IOCTL_DATA_OUT == scsiptx::SCSI_IOCTL_DATA_OUT_);
static_assert(SCSI_IOCTL_DATA_IN == scsiptx::SCSI_IOCTL_DATA_IN_);
static_assert(SCSI_IOCTL_DATA_UNSPECIFIED == scsiptx::SCSI_IOCTL_DATA_UNSPECIFIED_);

namespace {

HANDLE AsHandle(OsHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

OsHandle WinDeviceIo::CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                                  std::uint32_t shareMode, std::uint32_t creationDisposition,
                                  std::uint32_t flagsAndAttributes) {
  // INVALID_HANDLE_VALUE is -1, the same value as kInvalidHandle.
  return reinterpret_cast<OsHandle>(::CreateFileA(path.c_str(), desiredAccess, shareMode, nullptr,
                                                  creationDisposition, flagsAndAttributes,
                                                  nullptr));
}

AtaAnswer WinDeviceIo::AtaPassThrough(OsHandle handle, const AtaRequest& request) {
  return SendAtaPassThroughEx(*this, handle, request);
}

ScsiAnswer WinDeviceIo::ScsiPassThrough(OsHandle handle, const ScsiRequest& request) {
  return SendScsiPassThrough(*this, handle, request);
}

NvmeAdminAnswer WinDeviceIo::NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) {
  return NvmeAdminThroughQuery(*this, handle, request);
}

bool WinDeviceIo::DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                                  std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                  std::uint32_t* bytesReturned) {
  // Without overlapped I/O the system requires somewhere to write the count.
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(AsHandle(handle), ioControlCode, inBuffer, inSize, outBuffer,
                                    outSize, &returned, nullptr);
  if (bytesReturned) *bytesReturned = returned;
  return ok != FALSE;
}

FirmwareInterfaceInfo WinDeviceIo::FirmwareInterface(OsHandle handle) {
  return GetFirmwareInfoIoctl(*this, handle);
}

std::uint32_t WinDeviceIo::FirmwareDownload(OsHandle handle, const FirmwarePieceRequest& piece) {
  return DownloadFirmwareIoctl(*this, handle, piece);
}

std::uint32_t WinDeviceIo::FirmwareActivate(OsHandle handle, std::uint8_t slot,
                                           bool switchToExisting) {
  return ActivateFirmwareIoctl(*this, handle, slot, switchToExisting);
}

bool WinDeviceIo::CloseHandle(OsHandle handle) {
  return ::CloseHandle(AsHandle(handle)) != FALSE;
}

std::uint32_t WinDeviceIo::GetLastError() {
  return ::GetLastError();
}

std::string WinDeviceIo::SystemMessageText(std::uint32_t code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  return std::string(text, length);
}

}  // namespace brisquel::winpt
