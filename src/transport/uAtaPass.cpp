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

CommandResult AtaPassThrough(TransportContext& t, const AtaTaskFile& regs,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, std::uint32_t timeLimit) {
  if (!DataFits(t, regs.command, length, buffer.size())) return {CommandEnd::notSent};

  const auto zeroBuffer = [&] { std::fill_n(buffer.begin(), length, std::uint8_t{0}); };
  const OsHandle handle = t.state.DriveTarget.ataPassHandle;
  // The registers of a non-data command are its answer; a data command's
  // status says enough.
  const AtaRequest request{regs, direction,
                           buffer.first(direction == DataDirection::none ? 0 : length), timeLimit,
                           direction == DataDirection::none};
  const AtaAnswer answer =
      CallDevice<AtaAnswer>(t, [&] { return t.io.AtaPassThrough(handle, request); });
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
  // Only ERR decides; DF, DRQ or BSY in the returned status do not.
  const bool success = (status & kStatusErr) == 0;
  if (!success) zeroBuffer();
  CommandResult result{success ? CommandEnd::completed : CommandEnd::deviceError};
  if (answer.registersReturned) result.returnedCount = answer.returned.count;
  return result;
}

}  // namespace brisquel
