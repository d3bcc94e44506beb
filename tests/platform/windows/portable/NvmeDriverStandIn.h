// A stand-in for DeviceIoControl as Windows' NVMe driver answers the
// protocol-specific query (as the bench's stand-in does, NvmeQueryStandIn.h)
// and the firmware interface's GET_INFO, from the bench NVMe controller's
// Identify and slot log; DOWNLOAD as one Firmware Image Download and ACTIVATE
// as the Firmware Commit the driver picks (the slot's image at once where the
// controller activates without a reset, else at the next reset; a reset the
// controller asks for is no error). Each call is kept.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeQuery.h"
#include "platform/windows/portable/NvmeQueryStandIn.h"
#include "platform/windows/portable/StandInIo.h"
#include "transport/DeviceIo.h"
#include "ops/NvmeFirmware.h"
#include "transport/NvmeCommands.h"

namespace brisquel::winpt::test {

class NvmeDriverStandIn : public IoControl {
 public:
  explicit NvmeDriverStandIn(DeviceIo& bench) : bench_(bench) {}

  bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override {
    if (bytesReturned) *bytesReturned = 0;
    // The input is read before the output is written: they may be one block.
    const std::vector<std::uint8_t> input(static_cast<const std::uint8_t*>(in),
                                          static_cast<const std::uint8_t*>(in) + inSize);
    const std::span<std::uint8_t> output(static_cast<std::uint8_t*>(out), outSize);
    std::uint32_t error = win32::ERROR_INVALID_FUNCTION_;
    if (code == kIoctlStorageQueryProperty) {
      std::string call;
      error = AnswerNvmeQuery(bench_, handle, input, output, bytesReturned, &call);
      Said(call, error);
    } else if (code == kIoctlFirmwareGetInfo) {
      error = GetInfo(handle, output, bytesReturned);
    } else if (code == kIoctlFirmwareDownload) {
      error = Download(handle, input);
    } else if (code == kIoctlFirmwareActivate) {
      error = Activate(handle, input);
    }
    error_ = error;
    return error == 0;
  }
  std::uint32_t GetLastError() override { return error_; }

  // Each call as "QUERY identify 1 nsid 0 bytes 4096 -> 0".
  std::vector<std::string> calls;
  // A DOWNLOAD at this offset fails as the drive's error would.
  std::optional<std::uint64_t> failDownloadAt;

 private:
  std::uint32_t Download(OsHandle drive, std::span<const std::uint8_t> in) {
    const std::optional<DownloadRecord> record = ReadDownloadRecord(in);
    if (!record) return Said("DOWNLOAD", 24);
    const FirmwareDownloadHeader& h = record->header;
    const std::string& call = record->call;
    const Limits l = LimitsOf(drive);
    const bool bad = !record->sizesHold || h.bufferSize % l.alignment != 0 || h.offset % l.alignment != 0 ||
                     h.bufferSize > l.maxPiece || h.slot == 0 || h.slot > l.slots ||
                     (h.slot == 1 && l.slot1ReadOnly);
    if (bad) return Said(call, 87);
    if (failDownloadAt == h.offset) return Said(call, win32::ERROR_IO_DEVICE_);
    std::vector<std::uint8_t> piece(in.begin() + sizeof h, in.begin() + sizeof h + h.bufferSize);
    return Said(call, Admin(drive, FirmwareImageDownloadRequest(piece, static_cast<std::uint32_t>(h.offset))));
  }

  std::uint32_t Activate(OsHandle drive, std::span<const std::uint8_t> in) {
    if (in.size() < sizeof(FirmwareActivateRecord)) return Said("ACTIVATE", 24);
    FirmwareActivateRecord r;
    std::memcpy(&r, in.data(), sizeof r);
    const bool existing = (r.flags & kFirmwareFlagSwitchToExisting) != 0;
    const std::string call = "ACTIVATE slot " + std::to_string(r.slot) + (existing ? " existing" : "");
    const Limits l = LimitsOf(drive);
    if (r.version != sizeof r || r.size != sizeof r || r.slot == 0 || r.slot > l.slots ||
        (!existing && r.slot == 1 && l.slot1ReadOnly)) {
      return Said(call, 87);
    }
    const std::uint8_t action = l.activateWithoutReset ? kNvmeCommitActivateNow
                                : existing             ? kNvmeCommitActivateAtReset
                                                       : kNvmeCommitStoreAtReset;
    return Said(call, Admin(drive, FirmwareCommitRequest(r.slot, action)));
  }

  // A command's end as the driver reports it: a reset the controller waits
  // for is done; any other error status is the driver's I/O device error.
  std::uint32_t Admin(OsHandle drive, NvmeAdminRequest request) {
    const NvmeAdminAnswer a = bench_.NvmeAdmin(drive, request);
    if (!a.delivered) return a.systemError;
    if (a.status.ok() || NvmeResetNamed(a.status)) return 0;
    return win32::ERROR_IO_DEVICE_;
  }

  struct Limits {
    std::uint32_t alignment = 4096, maxPiece = 1u << 20;
    int slots = 0;
    bool slot1ReadOnly = false, activateWithoutReset = false;
  };
  Limits LimitsOf(OsHandle drive) {
    std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
    Limits l;
    if (!bench_.NvmeAdmin(drive, IdentifyControllerRequest(id)).status.ok()) return l;
    const std::uint8_t fwug = id[kNvmeIdFwug], mdts = id[kNvmeIdMdts], frmw = id[kNvmeIdFrmw];
    if (fwug != 0 && fwug != kNvmeFwugAny) l.alignment = 4096u * fwug;
    if (mdts != 0 && mdts <= 8) l.maxPiece = 4096u << mdts;
    l.slots = frmw >> 1 & 7;
    l.slot1ReadOnly = (frmw & kNvmeFrmwSlot1ReadOnly) != 0;
    l.activateWithoutReset = (frmw & kNvmeFrmwActivateWithoutReset) != 0;
    return l;
  }

  // What the driver makes of the controller's own fields: its slots, the
  // download granularity as the alignment (4 KiB when the controller does not
  // restrict it), the largest transfer as the largest piece.
  std::uint32_t GetInfo(OsHandle drive, std::span<std::uint8_t> out, std::uint32_t* returned) {
    std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
    std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
    const NvmeAdminAnswer a = bench_.NvmeAdmin(drive, IdentifyControllerRequest(id));
    const NvmeAdminAnswer b = bench_.NvmeAdmin(drive, FirmwareSlotLogRequest(log));
    if (!a.delivered || !b.delivered || !a.status.ok() || !b.status.ok()) {
      return Said("GET_INFO", win32::ERROR_IO_DEVICE_);
    }
    const std::uint8_t frmw = id[kNvmeIdFrmw];
    const int slots = frmw >> 1 & 7;
    const Limits l = LimitsOf(drive);
    FirmwareInfoHeader h{};
    h.version = h.size = sizeof h;
    h.supportUpgrade = (id[kNvmeIdOacs] & kNvmeOacsFirmware) ? 1 : 0;
    h.slotCount = static_cast<std::uint8_t>(slots);
    h.activeSlot = log[0] & 7;
    h.pendingActivateSlot = (log[0] >> 4 & 7) ? log[0] >> 4 & 7 : kFirmwareInvalidSlot;
    h.imagePayloadAlignment = l.alignment;
    h.imagePayloadMaxSize = l.maxPiece;
    const std::size_t size = sizeof h + slots * sizeof(FirmwareSlotInfo);
    if (out.size() < size) return Said("GET_INFO", 122);
    std::memcpy(out.data(), &h, sizeof h);
    for (int i = 0; i < slots; ++i) {
      FirmwareSlotInfo s{};
      s.version = s.size = sizeof s;
      s.slot.slotNumber = static_cast<std::uint8_t>(i + 1);
      s.slot.readOnly = i == 0 && (frmw & kNvmeFrmwSlot1ReadOnly) ? 1 : 0;
      std::memcpy(s.slot.revision, &log[kNvmeSlotLogFirstRevision + 8 * i], 8);
      std::memcpy(out.data() + sizeof h + i * sizeof s, &s, sizeof s);
    }
    if (returned) *returned = static_cast<std::uint32_t>(size);
    return Said("GET_INFO", 0);
  }

  std::uint32_t Said(const std::string& call, std::uint32_t error) {
    calls.push_back(call + " -> " + std::to_string(error));
    return error;
  }

  DeviceIo& bench_;
  std::uint32_t error_ = 0;
};

// The bench's device I/O with NVMe commands and the firmware interface as the
// stand-in driver answers them.
using NvmeStandInIo = StandInIo<NvmeDriverStandIn>;

}  // namespace brisquel::winpt::test
