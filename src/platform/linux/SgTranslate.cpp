#include "platform/linux/SgTranslate.h"

#include <algorithm>

#include "transport/AtaProtocol.h"
#include "transport/PassThroughBlocks.h"
#include "transport/SenseData.h"

namespace brisquel::linuxpt {

namespace {
constexpr std::uint16_t ATA_FLAGS_USE_DMA = 0x10;

constexpr std::uint8_t kProtocolNonData = 3;
constexpr std::uint8_t kProtocolPioIn = 4;
constexpr std::uint8_t kProtocolPioOut = 5;
constexpr std::uint8_t kProtocolDma = 6;

constexpr std::uint8_t kCkCond = 0x20;
constexpr std::uint8_t kTDirFromDevice = 0x08;
// T_LENGTH 3: the length is the transfer's own (the SG_IO buffer), so a block
// count that spans count and LBA low (DOWNLOAD MICROCODE) is never cut to 8 bits.
constexpr std::uint8_t kTLengthTpsiu = 0x03;

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

// ATA PASS-THROUGH(16), as sent:
//   0  0x85
//   1  MULTIPLE_COUNT 0 | PROTOCOL (bits 4-1) | EXTEND (bit 0, the 48-bit flag)
//   2  OFF_LINE 0 | CK_COND (bit 5, non-data only) | T_TYPE 0 | T_DIR (bit 3)
//      | BYT_BLOK 0 | T_LENGTH (bits 1-0: 0 no data, 3 the transfer's length)
//   3  features (15:8)   4  features (7:0)
//   5  count (15:8)      6  count (7:0)
//   7  LBA (31:24)       8  LBA (7:0)      the previous byte of LBA low / current
//   9  LBA (39:32)      10  LBA (15:8)     ... of LBA mid
//  11  LBA (47:40)      12  LBA (23:16)    ... of LBA high
//  13  device           14  command        15  control 0
// CK_COND only on non-data commands: some controllers (QEMU's AHCI) abort a
// data-in command that asks for the registers back.
Cdb16 BuildAtaPassThrough16(const AtaPassRequest& request, SgDirection direction) {
  const bool extend = request.ataFlags & ataptx::ATA_FLAGS_48BIT_COMMAND;
  const bool dma = request.ataFlags & ATA_FLAGS_USE_DMA;
  std::uint8_t protocol = kProtocolNonData;
  std::uint8_t transfer = kCkCond;
  if (direction == SgDirection::fromDevice) {
    protocol = dma ? kProtocolDma : kProtocolPioIn;
    transfer = kTDirFromDevice | kTLengthTpsiu;
  } else if (direction == SgDirection::toDevice) {
    protocol = dma ? kProtocolDma : kProtocolPioOut;
    transfer = kTLengthTpsiu;
  }
  const auto& p = request.previous;
  const auto& c = request.current;
  auto hob = [&](int i) -> std::uint8_t { return extend ? p[i] : 0; };
  return Cdb16{0x85,     static_cast<std::uint8_t>((protocol << 1) | (extend ? 1 : 0)),
               transfer, hob(0),
               c[0],     hob(1),
               c[1],     hob(2),
               c[2],     hob(3),
               c[3],     hob(4),
               c[4],     c[5],
               c[6],     0};
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
