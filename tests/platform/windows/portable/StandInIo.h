// What the stand-ins for a storage driver share: the bench's device I/O with
// the firmware interface (and NVMe commands) going to a stand-in driver over
// the same record calls as the Windows backend, and the reading of a DOWNLOAD
// record.
#pragma once

#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeQuery.h"
#include "transport/DeviceIo.h"

namespace brisquel::winpt::test {

template <typename Driver>
class StandInIo : public ForwardingDeviceIo {
 public:
  explicit StandInIo(DeviceIo& bench) : ForwardingDeviceIo(bench), driver(bench) {}
  NvmeAdminAnswer NvmeAdmin(OsHandle h, const NvmeAdminRequest& r) override {
    return NvmeAdminThroughQuery(driver, h, r);
  }
  std::string SystemMessageText(std::uint32_t code) override {
    return code == win32::ERROR_IO_DEVICE_ ? "I/O device error.\r\n" : "error text.\r\n";
  }
  bool HasFirmwareInterface() override { return true; }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle h) override {
    return GetFirmwareInfoIoctl(driver, h);
  }
  std::uint32_t FirmwareDownload(OsHandle h, const FirmwarePieceRequest& piece) override {
    return DownloadFirmwareIoctl(driver, h, piece);
  }
  std::uint32_t FirmwareActivate(OsHandle h, std::uint8_t slot, bool switchToExisting) override {
    return ActivateFirmwareIoctl(driver, h, slot, switchToExisting);
  }

  Driver driver;
};

// A DOWNLOAD record as a driver reads it: its header, the call in words
// ("DOWNLOAD slot 1 offset 0 bytes 32768 flags 4"), and whether its version
// and sizes hold. None when it is shorter than the record.
struct DownloadRecord {
  FirmwareDownloadHeader header;
  std::string call;
  bool sizesHold = false;
};
inline std::optional<DownloadRecord> ReadDownloadRecord(std::span<const std::uint8_t> in) {
  if (in.size() < kFirmwareDownloadRecordSize) return std::nullopt;
  DownloadRecord r;
  FirmwareDownloadHeader& h = r.header;
  std::memcpy(&h, in.data(), sizeof h);
  r.call = "DOWNLOAD slot " + std::to_string(h.slot) + " offset " + std::to_string(h.offset) +
           " bytes " + std::to_string(h.bufferSize) + " flags " + std::to_string(h.flags);
  r.sizesHold = h.version == kFirmwareDownloadRecordSize && h.size == in.size() &&
                h.size == kFirmwareDownloadRecordSize + h.bufferSize && h.bufferSize != 0;
  return r;
}

}  // namespace brisquel::winpt::test
