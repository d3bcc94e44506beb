#include "ops/Identify.h"

#include <algorithm>

#include "ops/CommandFailure.h"
#include "ops/NvmeIdentity.h"
#include "transport/AtaCommands.h"
#include "transport/SatForms.h"

namespace brisquel {
namespace {

// Text in IDENTIFY data is two characters per word, the high byte first.
std::string IdentifyText(std::span<const std::uint8_t> sector, int firstWord, int lastWord) {
  std::string text;
  for (int i = firstWord; i <= lastWord; ++i) {
    text += PrintableChar(sector[2 * i + 1]);
    text += PrintableChar(sector[2 * i]);
  }
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return SanitizeName(first < last ? std::string(first, last) : std::string());
}

bool Replaced(unsigned char c) {
  return c <= 0x1F || (c >= 0x21 && c <= 0x2C) || c == 0x2F || (c >= 0x3A && c <= 0x3F) ||
         (c >= 0x5B && c <= 0x5E) || c >= 0x7A;
}

}  // namespace

char PrintableChar(std::uint8_t byte) {
  return byte < 0x20 || byte > 0x7F ? ' ' : static_cast<char>(byte);
}

std::string SanitizeName(std::string text) {
  for (char& c : text) {
    if (Replaced(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

IdentifyValidity ValidityOf(std::span<const std::uint8_t, kSectorSize> sector) {
  const auto all = [&](std::uint8_t b) {
    return std::all_of(sector.begin(), sector.end(), [b](std::uint8_t x) { return x == b; });
  };
  if (all(0x00)) return IdentifyValidity::allZeros;
  if (all(0xFF)) return IdentifyValidity::allOnes;
  // A bridge that passes back zeros with a few bytes set: no drive has no names.
  if (IdentifyText(sector, 27, 46).empty() && IdentifyText(sector, 10, 19).empty() &&
      IdentifyText(sector, 23, 26).empty()) {
    return IdentifyValidity::blankNames;
  }
  // Word 255: signature A5h in the low byte; the sum of all 512 bytes is 0 mod 256.
  if (sector[510] == 0xA5) {
    std::uint8_t sum = 0;
    for (const std::uint8_t b : sector) sum = static_cast<std::uint8_t>(sum + b);
    if (sum != 0) return IdentifyValidity::checksumWrong;
  }
  return IdentifyValidity::valid;
}

std::string ValidityText(IdentifyValidity validity) {
  switch (validity) {
    case IdentifyValidity::allZeros:
      return "IDENTIFY data not valid: all zeros";
    case IdentifyValidity::allOnes:
      return "IDENTIFY data not valid: all ones";
    case IdentifyValidity::blankNames:
      return "IDENTIFY data not valid: model, serial number and revision all blank";
    case IdentifyValidity::checksumWrong:
      return "IDENTIFY checksum wrong";
    case IdentifyValidity::valid:
      break;
  }
  return {};
}

IdentifyOutcome IdentityOf(std::span<const std::uint8_t, kSectorSize> sector) {
  // Zeros and ones read as blanks, so such data shows no names.
  return {IdentifyText(sector, 27, 46),
          IdentifyText(sector, 23, 26),
          IdentifyText(sector, 10, 19),
          std::vector<std::uint8_t>(sector.begin(), sector.end()),
          {},
          ValidityOf(sector),
          {},
          false};
}

std::string IdentifyLine(const IdentifyOutcome& identity) {
  return identity.model + " FW:" + identity.firmware + " SN:" + identity.serial;
}

std::string IdentifyLine(std::span<const std::uint8_t, kSectorSize> sector) {
  return IdentifyLine(IdentityOf(sector));
}

CommandResult IdentifyDevice(TransportContext& t) {
  const auto sector = std::span(t.state.TransferBuffer).first(kSectorSize);
  const CommandResult result = Dispatch(t, IdentifyCommand(sector));
  // A bridge that answered this form before and refuses it now may be another
  // bridge (the drive moved to another enclosure): its form is found again.
  const DriveTarget& target = t.state.DriveTarget;
  if (target.kind != TransportKind::scsiPassThrough ||
      target.satFormFound != SatFormFound::answered || !RefusesTheForm(result)) {
    return result;
  }
  const CommandResult found = FindSatForm(t, sector);
  RememberSatForm(t.state);
  return found;
}

IdentifyOutcome ReadIdentity(TransportContext& t) {
  if (t.state.DriveTarget.kind == TransportKind::nvme) return ReadNvmeIdentity(t);
  const auto sector = std::span(t.state.TransferBuffer).first<kSectorSize>();
  std::fill(sector.begin(), sector.end(), std::uint8_t{0});
  const CommandResult command = IdentifyDevice(t);
  // What the drive sent back when the command failed is not its answer.
  IdentifyOutcome outcome = command ? IdentityOf(sector) : IdentifyOutcome{};
  outcome.command = command;
  outcome.failure = FailureWords(command, t);
  return outcome;
}

std::string IdentifyFailureLine(const IdentifyOutcome& identity) {
  if (identity.command) return {};
  return (identity.nvme ? "Identify Controller failed: " : "IDENTIFY DEVICE failed: ") +
         identity.failure;
}

IdentifyOutcome IdentifyButton(OperationContext& ctx) {
  ctx.transport.state.BreakFlag = false;
  const OperationButtonsDisabled buttons(ctx.host);
  const IdentifyOutcome outcome = ReadIdentity(ctx.transport);
  ctx.host.LogLine(IdentifyLine(outcome));
  ctx.host.LogLine("");
  // Break is the user's own doing, and needs no explaining.
  if (!outcome.command && outcome.command.end != CommandEnd::stopped) {
    ctx.host.LogLine(IdentifyFailureLine(outcome));
  } else if (outcome.validity != IdentifyValidity::valid) {
    ctx.host.LogLine(ValidityText(outcome.validity));
  }
  return outcome;
}

}  // namespace brisquel
