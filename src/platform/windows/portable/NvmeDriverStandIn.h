// Windows' NVMe driver as the storage stack's calls reach it, standing in
// front of a device I/O that takes NVMe admin commands (the bench's): the
// protocol-specific query and the firmware interface, each checked as the
// documentation says the driver checks it and carried out as the admin
// commands it stands for. The Windows build's bench runs its NVMe disks
// through it, so Identify and updates there take the same path as on a real
// disk.
//
// What the driver makes of the firmware calls is our model of it, not
// measured on one: GET_INFO from the controller's Identify and slot log (the
// download granularity as the alignment, 4 KiB where the controller leaves it
// open; the largest transfer, the controller's or the adapter's, as the
// largest piece); DOWNLOAD as one Firmware Image Download; ACTIVATE as the
// Commit the driver picks (the slot's image at once where the controller
// activates without a reset, else at the next reset; a reset the controller
// asks for is no error).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeQuery.h"
#include "transport/DeviceIo.h"
#include "transport/NvmeProtocol.h"

namespace brisquel::winpt {

// The query in `in` answered into `out`: 0, or the driver's error (a short
// input 24; a property, type or layout it does not take 87; an output too
// small 122; a controller's error status 1117; a refusal of the device I/O as
// it came). `call` gets "QUERY identify 1 nsid 0 bytes 4096".
std::uint32_t AnswerNvmeQuery(DeviceIo& controller, OsHandle handle, std::span<const std::uint8_t> in,
                              std::span<std::uint8_t> out, std::uint32_t* returned,
                              std::string* call = nullptr);

// What the driver knows of a disk beside its controller's own fields.
struct DriverDisk {
  // One of its disks (an NVMe disk): the firmware calls on any other are an
  // invalid function, as from a driver that offers none, and reach nothing.
  bool served = true;
  // The largest transfer its adapter takes (0: none), which caps the pieces.
  std::uint32_t largestTransfer = 0;
};

class NvmeDriverStandIn : public IoControl {
 public:
  // `disk` tells what the driver knows of each handle's disk; unset: every
  // handle is its own, with no limit beyond the controller's.
  explicit NvmeDriverStandIn(DeviceIo& controller, std::function<DriverDisk(OsHandle)> disk = {})
      : controller_(controller), disk_(std::move(disk)) {}

  bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override;
  std::uint32_t GetLastError() override { return error_; }
  // The last call in words: "QUERY identify 1 nsid 0 bytes 4096", "GET_INFO",
  // "DOWNLOAD slot 3 offset 0 bytes 16384 flags 4", "ACTIVATE slot 3 existing".
  const std::string& LastCall() const { return call_; }

 private:
  struct Limits {
    std::uint32_t alignment = 4096, maxPiece = 1u << 20;
    int slots = 0;
    bool slot1ReadOnly = false, activateWithoutReset = false;
  };
  std::uint32_t GetInfo(OsHandle drive, std::span<std::uint8_t> out, std::uint32_t* returned);
  std::uint32_t Download(OsHandle drive, std::span<const std::uint8_t> in);
  std::uint32_t Activate(OsHandle drive, std::span<const std::uint8_t> in);
  // A command's end as the driver reports it.
  std::uint32_t Admin(OsHandle drive, const NvmeAdminRequest& request);
  // From the controller's Identify data, read afresh or already at hand.
  Limits LimitsOf(OsHandle drive);
  Limits LimitsFrom(OsHandle drive, std::span<const std::uint8_t, kNvmeIdentifyBytes> id) const;

  DeviceIo& controller_;
  std::function<DriverDisk(OsHandle)> disk_;
  std::uint32_t error_ = 0;
  std::string call_;
};

// A device I/O whose NVMe admin commands and firmware calls go to a stand-in
// driver in front of another, over DeviceIoControl with the system's records
// as the Windows backend makes them; all else goes to that other as it is.
template <typename Driver>
class ThroughDriverIo : public ForwardingDeviceIo {
 public:
  template <typename... DriverArgs>
  explicit ThroughDriverIo(DeviceIo& inner, DriverArgs&&... args)
      : ForwardingDeviceIo(inner), driver(inner, std::forward<DriverArgs>(args)...) {}
  NvmeAdminAnswer NvmeAdmin(OsHandle h, const NvmeAdminRequest& r) override {
    return NvmeAdminThroughQuery(driver, h, r);
  }
  bool HasFirmwareInterface() override { return true; }
  FirmwareInterfaceInfo FirmwareInterface(OsHandle h) override { return GetFirmwareInfoIoctl(driver, h); }
  std::uint32_t FirmwareDownload(OsHandle h, const FirmwarePieceRequest& piece) override {
    return DownloadFirmwareIoctl(driver, h, piece);
  }
  std::uint32_t FirmwareActivate(OsHandle h, std::uint8_t slot, bool switchToExisting) override {
    return ActivateFirmwareIoctl(driver, h, slot, switchToExisting);
  }

  Driver driver;
};

using NvmeThroughDriverIo = ThroughDriverIo<NvmeDriverStandIn>;

}  // namespace brisquel::winpt
