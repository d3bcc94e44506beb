#include "transport/Dispatch.h"

#include <algorithm>
#include <cstddef>

#include "transport/RequestRules.h"
#include "transport/uATA.h"
#include "transport/uAtaPass.h"
#include "transport/uSCSI.h"

namespace brisquel {

namespace {

// Bytes of the command's buffer that the PIO data phase touches.
std::size_t PioBytes(const AtaCommand& c) {
  std::size_t bytes = 0;
  switch (c.pioData) {
    case PioData::none:
      break;
    case PioData::readSector:
    case PioData::readWords:
    case PioData::writeWords:
      bytes = kSectorSize;
      break;
    case PioData::writeSectors:
      bytes = std::size_t{c.sectors} * kSectorSize;
      break;
  }
  if (c.pioZeroWhenSkipped) bytes = std::max<std::size_t>(bytes, c.length);
  return bytes;
}

bool IsRead(PioData data) {
  return data == PioData::readSector || data == PioData::readWords;
}

void DispatchPio(TransportContext& t, const AtaCommand& c) {
  if (c.pioWaitBeforeCommand) WaitDevice(t);
  if (c.form == TaskFileForm::lba48) {
    WriteTaskFile48(t, c.regs);
  } else {
    WriteTaskFile28(t, c.regs);
  }
  WaitDevice(t);
  if (c.pioData == PioData::none) return;

  const AtaStatusBits& bits = t.state.AtaStatusBits;
  const bool skip =
      (c.pioDataNeedsNoError && bits.ERR) || (IsRead(c.pioData) && c.pioReadNeedsDrq && !bits.DRQ);
  if (skip) {
    if (c.pioZeroWhenSkipped) std::fill_n(c.buffer.begin(), c.length, std::uint8_t{0});
    return;
  }
  switch (c.pioData) {
    case PioData::none:
      break;
    case PioData::readSector:
      PioReadSector(t, c.buffer);
      break;
    case PioData::readWords:
      PioReadWords(t, c.buffer);
      WaitDevice(t);
      break;
    case PioData::writeSectors:
      PioWriteSectors(t, static_cast<std::int32_t>(c.sectors), c.buffer);
      break;
    case PioData::writeWords:
      PioWriteWords(t, c.buffer);
      WaitDevice(t);
      break;
  }
}

bool SendScsi(TransportContext& t, const AtaCommand& c) {
  switch (c.direction) {
    case DataDirection::in:
      return SatPioIn(t, c.buffer, c.regs);
    case DataDirection::out:
      return SatPioOut(t, c.buffer, c.regs);
    case DataDirection::none:
      break;
  }
  return SatNonData(t, c.regs);
}

}  // namespace

bool Dispatch(TransportContext& t, const AtaCommand& command) {
  AtaStatusBits& bits = t.state.AtaStatusBits;
  switch (t.state.DriveTarget.kind) {
    case TransportKind::ataPassThrough:
      bits.ERR =
          !AtaPassThrough(t, command.regs, command.buffer, command.length, command.direction);
      break;
    case TransportKind::scsiPassThrough:
      bits.ERR = !SendScsi(t, command);
      break;
    case TransportKind::pio:
      if (!DataFits(t, command.regs.command, PioBytes(command), command.buffer.size())) {
        bits.ERR = true;
        break;
      }
      DispatchPio(t, command);
      break;
  }
  return !bits.ERR;
}

}  // namespace brisquel
