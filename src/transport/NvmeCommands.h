// The NVMe admin commands the program sends, built by name, and the one
// point they all pass: the device I/O where it wants to be called, the
// command observer on either side, and the answer as a command result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "transport/NvmeProtocol.h"
#include "transport/NvmeRequest.h"
#include "transport/TransportState.h"

namespace brisquel {

// Identify Controller into 4,096 bytes.
NvmeAdminRequest IdentifyControllerRequest(std::span<std::uint8_t, kNvmeIdentifyBytes> data);
// Get Log Page, the Firmware Slot Information log, into 512 bytes; for the
// controller as a whole (NSID FFFFFFFFh).
NvmeAdminRequest FirmwareSlotLogRequest(std::span<std::uint8_t, kNvmeFirmwareSlotLogBytes> data);

// Firmware Image Download: `piece` goes to the image at `offsetBytes`; both
// whole dwords, as NUMD and OFST count them.
NvmeAdminRequest FirmwareImageDownloadRequest(std::span<std::uint8_t> piece,
                                              std::uint32_t offsetBytes);
// Firmware Commit of `slot` (0: the controller chooses) with `action`.
NvmeAdminRequest FirmwareCommitRequest(std::uint8_t slot, std::uint8_t action);

// The reset a Firmware Commit's status says the image waits for ("a
// conventional reset"), or none for a status that is no such answer.
std::optional<std::string> NvmeResetNamed(const NvmeStatus& status);

struct NvmeCommandOutcome {
  CommandResult result;  // completed exactly when the status is success
  NvmeAdminAnswer answer;
};

// Sends one admin command on the target's NVMe handle.
NvmeCommandOutcome SendNvmeAdmin(TransportContext& t, const NvmeAdminRequest& request);

}  // namespace brisquel
