#include "platform/linux/SgTranslate.h"

#include "transport/AtaProtocol.h"
#include "transport/SenseData.h"

namespace brisquel::linuxpt {

namespace {
constexpr std::uint8_t kStatusDrdyDsc = kStatusDrdy | kStatusDsc;
constexpr std::uint8_t kStatusDrdyDscErr = kStatusDrdy | kStatusDsc | kStatusErr;
}  // namespace

SgDirection SgDirectionOf(DataDirection direction) {
  switch (direction) {
    case DataDirection::in:
      return SgDirection::fromDevice;
    case DataDirection::out:
      return SgDirection::toDevice;
    case DataDirection::none:
      break;
  }
  return SgDirection::none;
}

// ATA PASS-THROUGH(16) with EXTEND: every command goes as a 48-bit one. CK_COND
// only where the registers are asked for: some controllers (QEMU's AHCI) abort
// a data-in command that asks for them back. Data goes with T_LENGTH 3, the
// transfer's own length (the SG_IO buffer), so a block count that spans count
// and LBA low (DOWNLOAD MICROCODE) is never cut to 8 bits.
Cdb16 BuildAtaPassThrough16(const AtaRequest& request) {
  SatFields fields{SatProtocol::nonData, 0, true};
  if (request.direction == DataDirection::in) {
    fields.protocol = SatProtocol::pioIn;
    fields.transfer = kSatTDirFromDevice | kSatTLengthTransfer;
  } else if (request.direction == DataDirection::out) {
    fields.protocol = SatProtocol::pioOut;
    fields.transfer = kSatTLengthTransfer;
  }
  if (request.registersBack) fields.transfer |= kSatCkCond;
  return BuildSatCdb(SatForm::x85, request.regs, fields).bytes;
}

AtaAnswer CompleteAtaRequest(const AtaRequest& request, std::uint8_t scsiStatus,
                             std::span<const std::uint8_t> sense) {
  AtaAnswer answer;
  answer.returned = request.regs;
  const SenseData read = ReadSenseData(sense);
  if (scsiStatus == kScsiCheckCondition) {
    if (const auto& r = read.ata) {
      answer.returned = {r->error,   r->count,  r->lbaLow, r->lbaMid,
                         r->lbaHigh, r->device, r->status};
      if (r->extend) {
        answer.returned.countPrev = r->countPrev;
        answer.returned.lbaLowPrev = r->lbaLowPrev;
        answer.returned.lbaMidPrev = r->lbaMidPrev;
        answer.returned.lbaHighPrev = r->lbaHighPrev;
      }
      answer.registersReturned = true;
      return answer;
    }
    // ILLEGAL REQUEST to a data-out command that asked for its registers: a
    // layer that will not hand them back on data-out refuses the block.
    constexpr std::uint8_t kIllegalRequest = 0x05;
    if (request.registersBack && request.direction == DataDirection::out &&
        read.key == kIllegalRequest) {
      answer.registersRefused = true;
    }
  }
  // No registers came back: a good completion reads as a ready drive; a
  // command refused or failed without registers as an aborted one, unless
  // readable sense says nothing went wrong (NO SENSE, RECOVERED ERROR).
  bool ok = scsiStatus == kScsiGood;
  if (scsiStatus == kScsiCheckCondition) {
    ok =
        (read.format == SenseData::Format::fixed || read.format == SenseData::Format::descriptor) &&
        read.key <= 1;
  }
  answer.returned.features = ok ? 0 : kErrorAbrt;
  answer.returned.command = ok ? kStatusDrdyDsc : kStatusDrdyDscErr;
  return answer;
}

}  // namespace brisquel::linuxpt
