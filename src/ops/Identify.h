// Identify: IDENTIFY DEVICE on the current transport, and the log line with the
// drive's model, firmware revision and serial number.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ops/OperationContext.h"

namespace brisquel {

// Leaves the 512 bytes of IDENTIFY data at the start of TransferBuffer; the
// outcome is ERR.
void IdentifyDevice(TransportContext& t);

// The Identify button (and a double-click on the list): logs
// "<model> FW:<firmware> SN:<serial>" and an empty line.
void btIdentifyClick(OperationContext& ctx);

// "<model> FW:<firmware> SN:<serial>" from one sector of IDENTIFY data.
std::string IdentifyLine(std::span<const std::uint8_t, kSectorSize> sector);

// A space for bytes below 0x20 or above 0x7F, else the byte itself.
char PrintableChar(std::uint8_t byte);
// Replaces every character that does not belong in a name with "_".
std::string SanitizeName(std::string text);

}  // namespace brisquel
