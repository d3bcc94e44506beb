// Windows' NVMe driver as the protocol-specific query sees it, standing in
// front of a device I/O that takes NVMe admin commands (the bench's): each
// query is checked as the documentation says the driver checks it and carried
// out as the one admin command it stands for. The Windows build's bench runs
// its NVMe disks through it, so Identify there takes the same path as on a
// real disk.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/windows/portable/NvmeQuery.h"
#include "transport/DeviceIo.h"

namespace brisquel::winpt {

// The query in `in` answered into `out`: 0, or the driver's error (a short
// input 24; a property, type or layout it does not take 87; an output too
// small 122; a controller's error status 1117; a refusal of the device I/O as
// it came). `call` gets "QUERY identify 1 nsid 0 bytes 4096".
std::uint32_t AnswerNvmeQuery(DeviceIo& controller, OsHandle handle, std::span<const std::uint8_t> in,
                              std::span<std::uint8_t> out, std::uint32_t* returned,
                              std::string* call = nullptr);

// A device I/O whose NVMe admin commands go through the query to the stand-in
// driver in front of another; all else goes to that other as it is.
class NvmeThroughQueryIo : public ForwardingDeviceIo {
 public:
  explicit NvmeThroughQueryIo(DeviceIo& controller)
      : ForwardingDeviceIo(controller), driver_(controller) {}
  NvmeAdminAnswer NvmeAdmin(OsHandle h, const NvmeAdminRequest& r) override {
    return NvmeAdminThroughQuery(driver_, h, r);
  }

 private:
  // DeviceIoControl as the driver answers the query; any other code is an
  // invalid function.
  class Driver : public IoControl {
   public:
    explicit Driver(DeviceIo& controller) : controller_(controller) {}
    bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned) override;
    std::uint32_t GetLastError() override { return error_; }

   private:
    DeviceIo& controller_;
    std::uint32_t error_ = 0;
  };

  Driver driver_;
};

}  // namespace brisquel::winpt
