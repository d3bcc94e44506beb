// The bench's device I/O: drive paths, a handle table, and the two pass-through
// requests run on simulated drives, with Win32 error codes and texts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/AtaDrive.h"
#include "sim/NvmeController.h"
#include "sim/Replay.h"
#include "sim/UsbBridge.h"
#include "transport/DeviceIo.h"
#include "transport/Win32Messages.h"

namespace brisquel::sim {

// What a device path leads to.
struct SimEndpoint {
  std::shared_ptr<AtaDrive> drive;
  // Set for a drive attached through a USB bridge: SCSI pass-through goes to
  // it and ATA pass-through is refused. Without one, the system's own SAT
  // layer answers SCSI pass-through.
  std::shared_ptr<UsbBridge> bridge;
  bool failsToOpen = false;  // CreateFileA answers ERROR_ACCESS_DENIED
  // Set for a recording played back: it answers both pass-through requests.
  std::shared_ptr<Replayer> replay{};
  // An NVMe drive: it takes admin commands and no ATA or SCSI pass-through
  // (with a bridge: the USB enclosure passes none of them).
  std::shared_ptr<NvmeController> nvme{};
  // The largest transfer in bytes the system takes in one pass-through
  // command to this disk (the disk queue's, the adapter's); a larger one is
  // refused before it reaches the drive, as Linux and Windows refuse it.
  // 0: none.
  std::uint32_t maxTransfer = 0;
};

class SimDeviceIo : public DeviceIo {
 public:
  void AddPath(const std::string& path, SimEndpoint endpoint);
  // The drive is gone: the path no longer opens, open handles answer
  // ERROR_DEVICE_NOT_CONNECTED.
  void Unplug(const std::string& path);

  struct OpenCall {
    std::string path;
    std::uint32_t access, share, disposition, flags;
  };
  const std::vector<OpenCall>& Opens() const { return opens_; }
  std::size_t OpenHandleCount() const { return handles_.size(); }

  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override;
  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  NvmeAdminAnswer NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) override;
  bool CloseHandle(OsHandle handle) override;
  // Whether an open handle is one of the bench's own NVMe controllers (not a
  // recording, not behind a USB bridge): the disks an NVMe driver would have.
  bool IsNvmeController(OsHandle handle) const;
  // The largest transfer the system takes to an open handle's disk; 0: none.
  std::uint32_t MaxTransfer(OsHandle handle) const;
  std::uint32_t GetLastError() override { return lastError_; }
  std::string SystemMessageText(std::uint32_t code) override { return Win32MessageText(code); }

 private:
  // The endpoint behind an open handle, or null with the error that says why.
  const SimEndpoint* Endpoint(OsHandle handle, std::uint32_t& error) const;
  bool Fail(std::uint32_t code);

  std::map<std::string, SimEndpoint> paths_;
  std::map<OsHandle, std::string> handles_;  // handle -> path it was opened on
  OsHandle nextHandle_ = 0x100;
  std::uint32_t lastError_ = 0;
  std::vector<OpenCall> opens_;
  UsbBridge systemSat_;
};

}  // namespace brisquel::sim
