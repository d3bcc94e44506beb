// One NVMe admin command in our own terms, and what came back: each backend
// turns it into its system's call (Linux NVME_IOCTL_ADMIN_CMD) or carries it
// out itself (the bench), as it does with the ATA and SCSI requests.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "transport/AtaTypes.h"

namespace brisquel {

struct NvmeAdminRequest {
  std::uint8_t opcode = 0;
  std::uint32_t nsid = 0;
  std::array<std::uint32_t, 6> cdw{};  // CDW10 to CDW15
  DataDirection direction = DataDirection::none;
  // The transfer: data-in lands here (zeros past what the controller
  // returned), data-out leaves from here; empty for no data.
  std::span<std::uint8_t> data{};
  std::uint32_t timeLimit = kCommandTimeLimit;  // seconds
};

// The completion's status field: type, code and Do Not Retry.
struct NvmeStatus {
  std::uint8_t type = 0;  // SCT
  std::uint8_t code = 0;  // SC
  bool dnr = false;
  bool ok() const { return type == 0 && code == 0; }
  // The status as the 15-bit field of the completion, less the phase bit:
  // SC bits 7:0, SCT bits 10:8, DNR bit 14 (what Linux's ioctl returns).
  std::uint16_t Field() const {
    return static_cast<std::uint16_t>(code | (type & 7) << 8 | (dnr ? 1u << 14 : 0u));
  }
  static NvmeStatus FromField(std::uint32_t field) {
    return {static_cast<std::uint8_t>((field >> 8) & 7), static_cast<std::uint8_t>(field & 0xFF),
            (field & (1u << 14)) != 0};
  }
  bool operator==(const NvmeStatus&) const = default;
};

struct NvmeAdminAnswer {
  // False: the system refused the request (or gave up on it); systemError
  // says why, in the Win32-shaped vocabulary, and nothing else holds.
  bool delivered = true;
  std::uint32_t systemError = 0;
  NvmeStatus status;
  std::uint32_t result = 0;  // the completion's Dword 0
  std::uint32_t bytesMoved = 0;
};

// A request a system takes: data for a data command and none without one.
inline bool WellFormed(const NvmeAdminRequest& request) {
  return (request.direction == DataDirection::none) == request.data.empty();
}

// "generic 01h (invalid command opcode)", "command specific 06h (invalid
// firmware slot), do not retry".
std::string NvmeStatusWords(const NvmeStatus& status);

}  // namespace brisquel
