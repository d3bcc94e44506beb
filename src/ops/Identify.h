// Identify: IDENTIFY DEVICE on the current transport, and the log line with the
// drive's model, firmware revision and serial number.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ops/OperationContext.h"

namespace brisquel {

// Leaves the 512 bytes of IDENTIFY data at the start of TransferBuffer.
CommandResult IdentifyDevice(TransportContext& t);

// What Identify learnt: the drive's names as the log line shows them, the
// sector they came from, and how the command ended. A failed command leaves
// the names empty.
struct IdentifyOutcome {
  std::string model, firmware, serial;
  std::vector<std::uint8_t> sector;  // the 512 bytes of IDENTIFY data
  CommandResult command;
};

// The names of one sector of IDENTIFY data, as the log line shows them.
IdentifyOutcome IdentityOf(std::span<const std::uint8_t, kSectorSize> sector);

// The Identify button (and a double-click on the list): logs
// "<model> FW:<firmware> SN:<serial>" and an empty line.
IdentifyOutcome IdentifyButton(OperationContext& ctx);

// "<model> FW:<firmware> SN:<serial>", from the names or from one sector of
// IDENTIFY data.
std::string IdentifyLine(const IdentifyOutcome& identity);
std::string IdentifyLine(std::span<const std::uint8_t, kSectorSize> sector);

// A space for bytes below 0x20 or above 0x7F, else the byte itself.
char PrintableChar(std::uint8_t byte);
// Replaces every character that does not belong in a name with "_".
std::string SanitizeName(std::string text);

}  // namespace brisquel
