#include "transport/uAtaPass.h"

#include <algorithm>

#include "transport/DeviceCall.h"
#include "transport/DeviceIo.h"
#include "transport/RequestRules.h"

namespace brisquel {

std::string TrimSystemMessage(std::string text) {
  if (text.size() > 255) text.resize(255);
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.back());
    if (c > ' ' && c != '.') break;
    text.pop_back();
  }
  return text;
}

bool AtaRegistersAsked(DataDirection direction, bool commandAsks) {
  // A non-data command's registers are its answer; a data-out command asks
  // for them when it has one (DOWNLOAD MICROCODE's count register). A data-in
  // command never does: some controllers abort it when asked.
  return direction == DataDirection::none || (commandAsks && direction == DataDirection::out);
}

CommandResult AtaPassThrough(TransportContext& t, const AtaTaskFile& regs,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, std::uint32_t timeLimit,
                             bool registersBack) {
  if (!DataFits(t, regs.command, length, buffer.size())) return {CommandEnd::notSent};

  const auto zeroBuffer = [&] { std::fill_n(buffer.begin(), length, std::uint8_t{0}); };
  const OsHandle handle = t.state.DriveTarget.ataPassHandle;
  const AtaRequest request{regs, direction,
                           buffer.first(direction == DataDirection::none ? 0 : length), timeLimit,
                           AtaRegistersAsked(direction, registersBack)};
  const AtaAnswer answer =
      CallDevice<AtaAnswer>(t, [&] { return t.io.AtaPassThrough(handle, request); });
  if (answer.registersRefused) {
    // Resending without them would hide the drive's own answer to the data.
    t.host.LogLine(
        "ATA pass-through: the system's SCSI/ATA translation refuses to hand back the "
        "registers of a data-out command (CK_COND), so the drive's answer to it cannot be "
        "read; nothing was sent");
    return {CommandEnd::systemRefused, win32::ERROR_NOT_SUPPORTED_};
  }
  if (!answer.delivered) {
    t.host.LogLine("IOCTL_ATA_PASS_THROUGH " +
                   TrimSystemMessage(t.io.SystemMessageText(answer.systemError)));
    zeroBuffer();
    return {answer.systemError == win32::ERROR_SEM_TIMEOUT_ ? CommandEnd::timedOut
                                                            : CommandEnd::systemRefused,
            answer.systemError};
  }

  const std::uint8_t status = answer.returned.command;
  t.state.AtaStatusBits.DecodeStatus(status);
  t.state.AtaStatusBits.DecodeError(answer.returned.features);
  CommandResult result = StatusResult(status);
  if (result.ok() && direction == DataDirection::out && answer.bytesMoved < length) {
    result = ShortTransfer(answer.bytesMoved, length);
  }
  if (!result.ok()) zeroBuffer();
  if (answer.registersReturned) result.returnedCount = answer.returned.count;
  return result;
}

}  // namespace brisquel
