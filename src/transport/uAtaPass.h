// ATA pass-through transport: one ATA command, with its full 48-bit task file,
// handed to the operating system's ATA pass-through on DriveTarget.ataPassHandle.
// Decodes the returned registers into AtaStatusBits.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "transport/AtaTypes.h"
#include "transport/TransportState.h"

namespace brisquel {

// The system's message text as the log shows it: at most 255 characters, then
// trailing characters at or below the space and trailing periods removed.
std::string TrimSystemMessage(std::string text);

// Whether a command in this direction asks the system for the registers back.
bool AtaRegistersAsked(DataDirection direction, bool commandAsks);

// Sends one command: completed when the returned status has ERR and DF clear
// (DF alone is a device fault) and, for data-out, all its data moved. On a data-in
// success the buffer receives `length` bytes; on any failure `length` bytes of
// it are zeroed. A request the system refuses is logged as
// "IOCTL_ATA_PASS_THROUGH " + the system's text for the error; one refused
// because its time limit (seconds) expired ends as timedOut. A length that
// does not fit in the buffer is refused (logged, nothing sent, buffer kept).
// The registers come back for a non-data command, and for a data-out command
// with `registersBack`; a system that refuses that is logged and the command
// ends refused.
CommandResult AtaPassThrough(TransportContext& t, const AtaTaskFile& regs,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, std::uint32_t timeLimit = kCommandTimeLimit,
                             bool registersBack = false);

}  // namespace brisquel
