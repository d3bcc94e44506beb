// The bench's stand-in for Windows' NVMe driver with each call kept ("QUERY
// identify 1 nsid 0 bytes 4096 -> 0", "DOWNLOAD slot 3 offset 0 bytes 16384
// flags 4 -> 0") and a DOWNLOAD that fails where a test says, as the drive's
// error would.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeDriverStandIn.h"
#include "platform/windows/portable/StandInIo.h"

namespace brisquel::winpt::test {

class KeptNvmeDriver : public IoControl {
 public:
  explicit KeptNvmeDriver(DeviceIo& bench) : driver_(bench) {}

  bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override {
    if (code == kIoctlFirmwareDownload && failDownloadAt) {
      const auto record =
          ReadDownloadRecord(std::span(static_cast<const std::uint8_t*>(in), inSize));
      if (record && record->header.offset == *failDownloadAt) {
        if (returned) *returned = 0;
        error_ = win32::ERROR_IO_DEVICE_;
        calls.push_back(record->call + " -> " + std::to_string(error_));
        return false;
      }
    }
    const bool done = driver_.DeviceIoControl(handle, code, in, inSize, out, outSize, returned);
    error_ = done ? 0 : driver_.GetLastError();
    calls.push_back(driver_.LastCall() + " -> " + std::to_string(error_));
    return done;
  }
  std::uint32_t GetLastError() override { return error_; }

  std::vector<std::string> calls;
  // A DOWNLOAD at this offset fails as the drive's error would.
  std::optional<std::uint64_t> failDownloadAt;

 private:
  NvmeDriverStandIn driver_;
  std::uint32_t error_ = 0;
};

using NvmeStandInIo = StandInIo<KeptNvmeDriver>;

}  // namespace brisquel::winpt::test
