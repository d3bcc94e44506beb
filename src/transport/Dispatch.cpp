#include "transport/Dispatch.h"

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "transport/CommandObserver.h"
#include "transport/RequestRules.h"
#include "transport/uATA.h"
#include "transport/uAtaPass.h"
#include "transport/uSCSI.h"

namespace brisquel {

namespace {

// Bytes of the command's buffer that the PIO data phase touches.
std::size_t PioBytes(const AtaCommand& c) {
  std::size_t bytes = PioDataBytes(c);
  if (c.pioZeroWhenSkipped) bytes = std::max<std::size_t>(bytes, c.length);
  return bytes;
}

bool IsRead(PioData data) {
  return data == PioData::readSector || data == PioData::readWords;
}

// How a PIO command ended, from its last wait and the status it left.
CommandResult PioResult(const TransportState& s, WaitEnd last) {
  switch (last) {
    case WaitEnd::floating:
      return {CommandEnd::noDevice};
    case WaitEnd::timedOut:
      return {CommandEnd::timedOut};
    case WaitEnd::stopped:
      // Break after the drive had answered leaves its answer standing.
      if (s.AtaStatusBits.BSY || !s.AtaStatusBits.ERR) return {CommandEnd::stopped};
      break;
    case WaitEnd::ready:
    case WaitEnd::error:
      break;
  }
  return StatusResult(s.AtaStatusBits.StatusByte());
}

CommandResult DispatchPio(TransportContext& t, const AtaCommand& c) {
  const std::uint32_t limit = c.pioTimeLimit ? c.pioTimeLimit : c.timeLimit;
  if (c.pioWaitBeforeCommand) {
    const WaitEnd before = WaitDevice(t, limit);
    if (before == WaitEnd::floating || before == WaitEnd::timedOut) return PioResult(t.state, before);
  }
  if (c.form == TaskFileForm::lba48) {
    WriteTaskFile48(t, c.regs);
  } else {
    WriteTaskFile28(t, c.regs);
  }
  const WaitEnd end = WaitDevice(t, limit);
  if (c.pioData == PioData::none || end == WaitEnd::floating || end == WaitEnd::stopped ||
      end == WaitEnd::timedOut) {
    return PioResult(t.state, end);
  }

  const AtaStatusBits& bits = t.state.AtaStatusBits;
  // A drive that ended the command with an error asks for no data: nothing is
  // pushed into it, whatever the command would otherwise do after an error.
  const bool ended = (bits.ERR || bits.DF) && !bits.DRQ;
  const bool skip = ended || (c.pioDataNeedsNoError && bits.ERR) ||
                    (IsRead(c.pioData) && c.pioReadNeedsDrq && !bits.DRQ);
  if (skip) {
    if (c.pioZeroWhenSkipped) std::fill_n(c.buffer.begin(), c.length, std::uint8_t{0});
    return PioResult(t.state, end);
  }
  WaitEnd last = end;
  std::uint32_t written = 0;
  switch (c.pioData) {
    case PioData::none:
      break;
    case PioData::readSector:
      PioReadSector(t, c.buffer, limit);
      break;
    case PioData::readWords:
      PioReadWords(t, c.buffer);
      last = WaitDevice(t, limit);
      break;
    case PioData::writeSectors:
      written = PioWriteSectors(t, static_cast<std::int32_t>(c.sectors), c.buffer, limit, &last);
      break;
    case PioData::writeWords:
      PioWriteWords(t, c.buffer);
      last = WaitDevice(t, limit);
      break;
  }
  // Break during the data phase leaves the transfer cut short or unanswered.
  if (t.state.BreakFlag) return {.end = CommandEnd::stopped, .sectorsWritten = written};
  CommandResult result = PioResult(t.state, last);
  // A drive whose command did not end has taken the sectors all the same.
  if (last == WaitEnd::timedOut) result.sectorsWritten = written;
  return result;
}

SatAsk AskOf(const AtaCommand& c) {
  // A data-in command never asks for the registers: some layers abort it.
  return {c.registersBack && c.direction != DataDirection::in, c.lengthFromTransfer, c.length};
}

CommandResult SendScsi(TransportContext& t, const AtaCommand& c) {
  const SatAsk ask = AskOf(c);
  switch (c.direction) {
    case DataDirection::in:
      return SatPioIn(t, c.buffer, c.regs, c.timeLimit, ask);
    case DataDirection::out:
      return SatPioOut(t, c.buffer, c.regs, c.timeLimit, ask);
    case DataDirection::none:
      break;
  }
  return SatNonData(t, c.regs, c.timeLimit, ask);
}

CommandResult Send(TransportContext& t, const AtaCommand& command) {
  CommandResult result;
  switch (t.state.DriveTarget.kind) {
    case TransportKind::ataPassThrough:
      result = AtaPassThrough(t, command.regs, command.buffer, command.length, command.direction,
                              command.timeLimit, command.registersBack);
      // Its request pumps only while the system takes its time; this pump lets
      // Break be seen between any two commands, as the other transports do.
      if (result.end != CommandEnd::notSent) t.host.PumpMessages();
      break;
    case TransportKind::scsiPassThrough:
      result = SendScsi(t, command);
      break;
    case TransportKind::pio:
      if (!DataFits(t, command.regs.command, PioBytes(command), command.buffer.size())) {
        result = {CommandEnd::notSent};
        break;
      }
      result = DispatchPio(t, command);
      if (command.pioReadCount && result.end != CommandEnd::noDevice &&
          result.end != CommandEnd::stopped) {
        result.returnedCount = PioReadCount(t);
      }
      break;
    case TransportKind::nvme:
      // An NVMe controller takes no ATA command; the system would refuse it.
      result = {CommandEnd::systemRefused, win32::ERROR_NOT_SUPPORTED_};
      break;
  }
  return result;
}

// The bytes of data a command that completed has moved.
std::uint32_t BytesMoved(const DriveTarget& target, const AtaCommand& c) {
  if (c.direction == DataDirection::none) return 0;
  if (target.kind == TransportKind::pio) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(PioBytes(c), c.buffer.size()));
  }
  if (target.kind == TransportKind::scsiPassThrough) {
    return SatTransferLength(target, c.direction, c.regs, AskOf(c));
  }
  return c.length;
}

}  // namespace

bool RegistersAsked(const DriveTarget& target, const AtaCommand& c) {
  switch (target.kind) {
    case TransportKind::ataPassThrough:
      return AtaRegistersAsked(c.direction, c.registersBack);
    case TransportKind::scsiPassThrough:
      return AskOf(c).registersBack && target.ckCondHonoured == true;
    case TransportKind::pio:
    case TransportKind::nvme:
      break;
  }
  return false;
}

std::size_t PioDataBytes(const AtaCommand& c) {
  switch (c.pioData) {
    case PioData::none:
      break;
    case PioData::readSector:
    case PioData::readWords:
    case PioData::writeWords:
      return kSectorSize;
    case PioData::writeSectors:
      return std::size_t{c.sectors} * kSectorSize;
  }
  return 0;
}

CommandResult Dispatch(TransportContext& t, const AtaCommand& command) {
  const DriveTarget& target = t.state.DriveTarget;
  if (!t.observer) {
    const CommandResult result = Send(t, command);
    t.state.AtaStatusBits.ERR = !result.ok();
    return result;
  }
  t.observer->CommandStarting(target, command);
  const auto start = std::chrono::steady_clock::now();
  const CommandResult result = Send(t, command);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The registers as the drive left them, before ERR takes the outcome.
  const AtaStatusBits& bits = t.state.AtaStatusBits;
  const CommandReturn back{result, bits.StatusByte(), bits.ErrorByte(),
                           result.ok() ? BytesMoved(target, command)
                                       : result.sectorsWritten * std::uint32_t{kSectorSize},
                           std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed)};
  t.state.AtaStatusBits.ERR = !result.ok();
  t.observer->CommandEnded(target, command, back);
  return result;
}

}  // namespace brisquel
