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

// Whether a sector of IDENTIFY data can be believed. All zeros or all ones is
// no drive's answer (a bridge that says GOOD and passes nothing on, a bus
// with nothing driving it), nor is one whose model, serial number and revision
// are all blank; a sector whose word 255 carries the A5h signature must also
// sum to zero.
enum class IdentifyValidity { valid, allZeros, allOnes, blankNames, checksumWrong };
IdentifyValidity ValidityOf(std::span<const std::uint8_t, kSectorSize> sector);
// "IDENTIFY data not valid: all zeros", "IDENTIFY checksum wrong"; empty when valid.
std::string ValidityText(IdentifyValidity validity);

// What Identify learnt: the drive's names as the log line shows them, the
// sector they came from, and how the command ended. A failed command leaves
// the names empty.
struct IdentifyOutcome {
  std::string model, firmware, serial;
  std::vector<std::uint8_t> sector;  // the 512 bytes of IDENTIFY data
  CommandResult command;
  IdentifyValidity validity = IdentifyValidity::valid;
  std::string failure;  // a command that did not complete: how it ended, in words
  bool nvme = false;    // NVMe Identify Controller, not ATA IDENTIFY DEVICE; no sector

  // The command completed with data that is not all zeros, all ones or
  // without names; a wrong checksum still shows names, which the checks
  // before a download then refuse.
  bool Answered() const {
    return command.ok() && validity != IdentifyValidity::allZeros &&
           validity != IdentifyValidity::allOnes && validity != IdentifyValidity::blankNames;
  }
};

// The names of one sector of IDENTIFY data, as the log line shows them.
IdentifyOutcome IdentityOf(std::span<const std::uint8_t, kSectorSize> sector);

// IDENTIFY DEVICE without a log line: the names and the sector in the outcome
// (empty names when the command failed, and the failure in words). On an
// NVMe target, Identify Controller: the names, and no sector.
IdentifyOutcome ReadIdentity(TransportContext& t);

// "IDENTIFY DEVICE failed: <how>" ("Identify Controller failed: <how>" on an
// NVMe drive) for a command that did not complete, else empty.
std::string IdentifyFailureLine(const IdentifyOutcome& identity);

// The Identify button (and a double-click on the list): logs
// "<model> FW:<firmware> SN:<serial>" and an empty line, then, for a command
// that failed or data that cannot be believed, a line that says why.
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
