// A stand-in for DeviceIoControl as Windows' NVMe driver answers the
// protocol-specific query (as the bench's stand-in does, NvmeQueryStandIn.h)
// and the firmware interface's GET_INFO, from the bench NVMe controller's
// Identify and slot log; each call is kept.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/NvmeQueryStandIn.h"
#include "transport/DeviceIo.h"
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
    }
    error_ = error;
    return error == 0;
  }
  std::uint32_t GetLastError() override { return error_; }

  // Each call as "QUERY identify 1 nsid 0 bytes 4096 -> 0".
  std::vector<std::string> calls;

 private:
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
    const std::uint8_t fwug = id[kNvmeIdFwug];
    const std::uint8_t mdts = id[kNvmeIdMdts];
    FirmwareInfoHeader h{};
    h.version = h.size = sizeof h;
    h.supportUpgrade = (id[kNvmeIdOacs] & kNvmeOacsFirmware) ? 1 : 0;
    h.slotCount = static_cast<std::uint8_t>(slots);
    h.activeSlot = log[0] & 7;
    h.pendingActivateSlot = (log[0] >> 4 & 7) ? log[0] >> 4 & 7 : kFirmwareInvalidSlot;
    h.imagePayloadAlignment = fwug == 0 || fwug == kNvmeFwugAny ? 4096u : 4096u * fwug;
    h.imagePayloadMaxSize = mdts == 0 || mdts > 8 ? 1u << 20 : 4096u << mdts;
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

}  // namespace brisquel::winpt::test
