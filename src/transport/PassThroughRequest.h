// What the pass-through transports ask of the system, and what comes back, in
// our own terms: each backend turns a request into its system's call (Windows
// request blocks, Linux SG_IO) or carries it out itself (the bench).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "transport/AtaTypes.h"
#include "transport/SatCdb.h"

namespace brisquel {

// One ATA command for the system's ATA pass-through. The protocol follows the
// direction: non-data, PIO data-in, PIO data-out; every command goes as a
// 48-bit one (a 28-bit command has zero previous bytes).
struct AtaRequest {
  AtaTaskFile regs{};
  DataDirection direction = DataDirection::none;
  // The transfer: its size is the length. Data-in lands here (what the device
  // did not return reads as zeros once the request was delivered), data-out
  // leaves from here; empty for a non-data command.
  std::span<std::uint8_t> data{};
  std::uint32_t timeLimit = kCommandTimeLimit;  // seconds
  // The drive's registers are needed back, not only its status (a backend
  // for which that costs something asks for them only then).
  bool registersBack = false;
};

struct AtaAnswer {
  // False: the system refused the request (or gave up on it); systemError says
  // why, in the Win32-shaped vocabulary, and nothing else in the answer holds.
  bool delivered = true;
  std::uint32_t systemError = 0;
  // As the drive left them: error in `features`, status in `command`.
  AtaTaskFile returned;
  // False when only status and error could be told (from how the command
  // ended) and the other registers are the request's own.
  bool registersReturned = false;
  std::uint32_t bytesMoved = 0;
  // Delivered, but the system's SCSI/ATA translation refused the command
  // block because it asked for the registers back on a data-out command: the
  // command never reached the drive.
  bool registersRefused = false;
};

// For a backend that moves data-in straight into the request's span: what the
// device did not return (past `moved` bytes) must not read as older data.
inline void ZeroUnreturned(DataDirection direction, std::span<std::uint8_t> data,
                           std::size_t moved) {
  if (direction != DataDirection::in || moved >= data.size()) return;
  for (std::size_t i = moved; i < data.size(); ++i) data[i] = 0;
}

// The sense data every backend asks for with a SCSI command.
inline constexpr std::size_t kScsiSenseRoom = 24;

// One SCSI command carrying an ATA PASS-THROUGH command block.
struct ScsiRequest {
  SatCdb cdb{};  // its length is the form sent
  DataDirection direction = DataDirection::none;
  std::span<std::uint8_t> data{};  // as for AtaRequest
  std::uint32_t timeLimit = kCommandTimeLimit;
};

struct ScsiAnswer {
  bool delivered = true;  // as for AtaAnswer
  std::uint32_t systemError = 0;
  std::uint8_t scsiStatus = 0;
  std::vector<std::uint8_t> sense;  // at most kScsiSenseRoom bytes, as returned
  std::uint32_t bytesMoved = 0;
};

// What a system takes: an ATA command with data has data to move and one
// without has none; a SCSI command block of 1 to 16 bytes, with no data for a
// command that moves none. The backends refuse anything else as the system
// would, with ERROR_INVALID_PARAMETER.
inline bool WellFormed(const AtaRequest& request) {
  return (request.direction == DataDirection::none) == request.data.empty();
}
inline bool WellFormed(const ScsiRequest& request) {
  return request.cdb.length >= 1 && request.cdb.length <= 16 &&
         (request.direction != DataDirection::none || request.data.empty());
}

// The answer to a request the system refused.
template <typename Answer>
Answer RefusedAnswer(std::uint32_t error) {
  Answer answer;
  answer.delivered = false;
  answer.systemError = error;
  return answer;
}

}  // namespace brisquel
