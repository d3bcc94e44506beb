#include "ops/CommandFailure.h"

#include <cstdio>

#include "transport/NvmeRequest.h"
#include "transport/uAtaPass.h"

namespace brisquel {
namespace {

constexpr std::uint8_t kSenseIllegalRequest = 0x5;
constexpr std::uint8_t kSenseAbortedCommand = 0xB;

std::string Hex2(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", static_cast<unsigned>(value));
  return text;
}

std::string SenseWords(const SenseSummary& sense) {
  char key[4];
  std::snprintf(key, sizeof key, "%X", static_cast<unsigned>(sense.key));
  std::string words = "sense key " + std::string(key) + ", ASC " + Hex2(sense.asc);
  if (sense.ascq != 0) words += ", ASCQ " + Hex2(sense.ascq);
  if (const std::string name = AscName(sense.asc, sense.ascq); !name.empty()) words += ": " + name;
  return words;
}

}  // namespace

std::string DeviceFaultWords(const CommandResult& command) {
  return "the drive reported a device fault (status " + Hex2(command.status) + ")";
}

std::string ShortTransferWords(const CommandResult& command) {
  return "the system moved " + std::to_string(command.bytesMoved) + " of " +
         std::to_string(command.bytesAsked) + " bytes";
}

std::string AscName(std::uint8_t asc, std::uint8_t ascq) {
  switch (asc) {
    case 0x00:
      return ascq == 0x1D ? "ATA pass through information available" : "";
    case 0x04:
      return "logical unit not ready";
    case 0x20:
      return "invalid command operation code";
    case 0x24:
      return "invalid field in CDB";
    case 0x3A:
      return "medium not present";
    default:
      return {};
  }
}

std::string FailureWords(const CommandResult& command, TransportContext& t) {
  switch (command.end) {
    case CommandEnd::completed:
      break;
    case CommandEnd::unset:
      return "no outcome was set for it";
    case CommandEnd::deviceFault:
      return DeviceFaultWords(command);
    case CommandEnd::shortTransfer:
      return ShortTransferWords(command);
    case CommandEnd::deviceError: {
      if (command.nvmeStatus) {
        return "the controller refused it (" +
               NvmeStatusWords(NvmeStatus::FromField(*command.nvmeStatus)) + ")";
      }
      // A bridge that cannot translate the command answers ILLEGAL REQUEST
      // itself; any other sense carries the drive's own error.
      if (command.sense && command.sense->key == kSenseIllegalRequest) {
        const bool everyForm = t.state.DriveTarget.satFormFound == SatFormFound::refused;
        return std::string("the USB bridge refused it") +
               (everyForm ? " in every form of ATA PASS-THROUGH (12 sent as 10 bytes, 12, 16)"
                          : "") +
               " (" + SenseWords(*command.sense) + ")";
      }
      if (command.sense) {
        return (command.sense->key == kSenseAbortedCommand ? "the drive aborted it ("
                                                           : "the drive ended it with an error (") +
               SenseWords(*command.sense) + ")";
      }
      const AtaStatusBits& r = t.state.AtaStatusBits;
      const std::string registers =
          "(status " + Hex2(r.StatusByte()) + ", error " + Hex2(r.ErrorByte()) + ")";
      return (r.ABRT ? "the drive aborted it " : "the drive ended it with an error ") + registers;
    }
    case CommandEnd::systemRefused: {
      std::string text = TrimSystemMessage(t.io.SystemMessageText(command.systemError));
      if (text.empty()) text = "system error " + std::to_string(command.systemError);
      return "the system refused it: " + text;
    }
    case CommandEnd::notSent:
      return "it was not sent: its data would not fit its buffer";
    case CommandEnd::noDevice:
      return "no drive answers";
    case CommandEnd::stopped:
      return "stopped by Break";
    case CommandEnd::timedOut:
      return "its time limit expired; the drive may still be busy with it";
  }
  return {};
}

}  // namespace brisquel
