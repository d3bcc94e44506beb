#include "platform/linux/SgTranslate.h"

#include <algorithm>

#include "transport/AtaProtocol.h"
#include "transport/PassThroughBlocks.h"
#include "transport/SatCdb.h"
#include "transport/SenseData.h"

namespace brisquel::linuxpt {

namespace {
constexpr std::uint16_t ATA_FLAGS_USE_DMA = 0x10;

constexpr std::uint8_t kStatusDrdyDsc = kStatusDrdy | kStatusDsc;
constexpr std::uint8_t kStatusDrdyDscErr = kStatusDrdy | kStatusDsc | kStatusErr;

}  // namespace

std::optional<SgDirection> AtaDirection(std::uint16_t ataFlags) {
  const bool in = ataFlags & ataptx::ATA_FLAGS_DATA_IN;
  const bool out = ataFlags & ataptx::ATA_FLAGS_DATA_OUT;
  if (in && out) return std::nullopt;
  if (in) return SgDirection::fromDevice;
  if (out) return SgDirection::toDevice;
  return SgDirection::none;
}

// ATA PASS-THROUGH(16), EXTEND with the 48-bit flag. CK_COND only on non-data
// commands: some controllers (QEMU's AHCI) abort a data-in command that asks
// for the registers back. Data goes with T_LENGTH 3, the transfer's own length
// (the SG_IO buffer), so a block count that spans count and LBA low (DOWNLOAD
// MICROCODE) is never cut to 8 bits.
Cdb16 BuildAtaPassThrough16(const AtaPassRequest& request, SgDirection direction) {
  const bool dma = request.ataFlags & ATA_FLAGS_USE_DMA;
  SatFields fields{SatProtocol::nonData, kSatCkCond,
                   (request.ataFlags & ataptx::ATA_FLAGS_48BIT_COMMAND) != 0};
  if (direction == SgDirection::fromDevice) {
    fields.protocol = dma ? SatProtocol::dma : SatProtocol::pioIn;
    fields.transfer = kSatTDirFromDevice | kSatTLengthTransfer;
  } else if (direction == SgDirection::toDevice) {
    fields.protocol = dma ? SatProtocol::dma : SatProtocol::pioOut;
    fields.transfer = kSatTLengthTransfer;
  }
  const auto& p = request.previous;
  const auto& c = request.current;
  const AtaTaskFile regs{c[0], c[1], c[2], c[3], c[4], c[5], c[6], p[0], p[1], p[2], p[3], p[4]};
  return BuildSatCdb(SatForm::x85, regs, fields).bytes;
}

AtaTaskFiles CompleteAtaRequest(const AtaPassRequest& request, std::uint8_t scsiStatus,
                                std::span<const std::uint8_t> sense) {
  AtaTaskFiles out{request.previous, request.current};
  out.current[7] = 0;
  const SenseData read = ReadSenseData(sense);
  if (scsiStatus == kScsiCheckCondition) {
    if (const auto& r = read.ata) {
      out.current = {r->error, r->count, r->lbaLow, r->lbaMid, r->lbaHigh, r->device, r->status, 0};
      out.previous = {};
      if (r->extend) {
        out.previous = {0, r->countPrev, r->lbaLowPrev, r->lbaMidPrev, r->lbaHighPrev, 0, 0, 0};
      }
      return out;
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
  out.current[0] = ok ? 0 : kErrorAbrt;
  out.current[6] = ok ? kStatusDrdyDsc : kStatusDrdyDscErr;
  return out;
}

}  // namespace brisquel::linuxpt
