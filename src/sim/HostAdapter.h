// The host side of a simulated drive, as an operating system's port driver or a
// bridge's firmware drives it: write the task file, poll the status with a
// bound, move data one DRQ block (256 words) at a time, read the registers back.
// A command that times out or breaks its data phase ends with a software reset
// of the drive, as a port driver's error recovery does.
#pragma once

#include <cstdint>
#include <span>

#include "sim/AtaDrive.h"
#include "transport/AtaTypes.h"

namespace brisquel::sim {

struct HostCommand {
  AtaTaskFile regs;
  bool lba48 = false;  // write the previous bytes before the current ones
  DataDirection direction = DataDirection::none;
  std::span<std::uint8_t> data;  // `direction` says which way; its size is the byte count
  bool waitForDrdy = false;      // the drive must show DRDY before the command goes out
  std::uint32_t timeoutSeconds = 5;
};

enum class HostOutcome {
  completed,       // the drive ended the command; see returned.command (status) for ERR
  timedOut,        // BSY (or no DRDY) outlasted the time-out
  dataPhaseError,  // the drive asked for more data than the request carries, or for
                   // data on a request without a data phase
};

struct HostResult {
  HostOutcome outcome = HostOutcome::completed;
  // Registers read back, in task-file order: features holds the error register,
  // command the status register. The previous bytes are not read back (zero).
  AtaTaskFile returned;
  std::uint32_t bytesTransferred = 0;
};

HostResult RunHostCommand(AtaDrive& drive, const HostCommand& command);

}  // namespace brisquel::sim
