#include "platform/linux/SgTranslate.h"

#include <algorithm>

#include "transport/PassThroughBlocks.h"

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

constexpr std::uint8_t kStatusDrdyDsc = 0x50;
constexpr std::uint8_t kStatusDrdyDscErr = 0x51;
constexpr std::uint8_t kErrorAbrt = 0x04;

bool IsFixed(std::uint8_t responseCode) {
  return (responseCode & 0x7E) == 0x70;
}
bool IsDescriptor(std::uint8_t responseCode) {
  return (responseCode & 0x7E) == 0x72;
}
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

std::optional<AtaReturnedRegisters> DecodeAtaStatusReturn(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  AtaReturnedRegisters r;
  if (IsDescriptor(responseCode)) {
    if (sense.size() < 8) return std::nullopt;
    const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
    for (std::size_t i = 8; i + 2 <= end; i += 2u + sense[i + 1]) {
      if (sense[i] != 0x09) continue;
      // ATA Status Return: 12 bytes after code and length.
      if (sense[i + 1] < 12 || i + 14 > end) return std::nullopt;
      const std::uint8_t* d = &sense[i];
      r.extend = d[2] & 0x01;
      r.error = d[3];
      r.countPrev = d[4];
      r.count = d[5];
      r.lbaLowPrev = d[6];
      r.lbaLow = d[7];
      r.lbaMidPrev = d[8];
      r.lbaMid = d[9];
      r.lbaHighPrev = d[10];
      r.lbaHigh = d[11];
      r.device = d[12];
      r.status = d[13];
      return r;
    }
    return std::nullopt;
  }
  if (!IsFixed(responseCode)) return std::nullopt;
  auto at = [&](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
  // SAT puts error, status, device and count in the INFORMATION field (3-6)
  // and the LBA at 9-11. Kernels up to 6.1 wrote the four registers at 8-11
  // instead and left 3-6 zero. A real status is never zero (DRDY or ERR at
  // least), so whichever place holds a status is the one used.
  // The four registers start at `regs`, the flags byte and the LBA at `rest`
  // and rest + 1 (SAT: 3 and 8; kernel 6.1: 8 and 16).
  auto fixedAt = [&](std::size_t regs, std::size_t rest) {
    r.error = at(regs);
    r.status = at(regs + 1);
    r.device = at(regs + 2);
    r.count = at(regs + 3);
    r.extend = at(rest) & 0x80;
    r.lbaLow = at(rest + 1);
    r.lbaMid = at(rest + 2);
    r.lbaHigh = at(rest + 3);
    return r;
  };
  if (at(3) | at(4) | at(5) | at(6)) return fixedAt(3, 8);
  if (at(9) != 0) return fixedAt(8, 16);
  return std::nullopt;
}

std::optional<SenseKey> DecodeSenseKey(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  auto at = [&](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
  const std::uint8_t responseCode = sense[0] & 0x7F;
  if (IsFixed(responseCode)) {
    return SenseKey{static_cast<std::uint8_t>(at(2) & 0x0F), at(12), at(13)};
  }
  if (IsDescriptor(responseCode)) {
    return SenseKey{static_cast<std::uint8_t>(at(1) & 0x0F), at(2), at(3)};
  }
  return std::nullopt;
}

AtaTaskFiles CompleteAtaRequest(const AtaPassRequest& request, std::uint8_t scsiStatus,
                                std::span<const std::uint8_t> sense) {
  AtaTaskFiles out{request.previous, request.current};
  out.current[7] = 0;
  if (scsiStatus == kScsiCheckCondition) {
    if (auto r = DecodeAtaStatusReturn(sense)) {
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
    const auto key = DecodeSenseKey(sense);
    ok = key && key->key <= 1;
  }
  out.current[0] = ok ? 0 : kErrorAbrt;
  out.current[6] = ok ? kStatusDrdyDsc : kStatusDrdyDscErr;
  return out;
}

}  // namespace brisquel::linuxpt
