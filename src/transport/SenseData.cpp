#include "transport/SenseData.h"

#include <algorithm>

namespace brisquel {
namespace {

constexpr std::uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr std::uint8_t kAtaStatusReturnLength = 12;
constexpr std::uint8_t kSksv = 0x80, kFieldInCommand = 0x40;
constexpr std::uint8_t kFixedExtend = 0x80;

void ReadDescriptorAta(std::span<const std::uint8_t> sense, SenseData& d) {
  if (sense.size() < 8) return;
  const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
  for (std::size_t i = 8; i + 2 <= end; i += 2u + sense[i + 1]) {
    if (sense[i] != kAtaStatusReturnDescriptor) continue;
    if (sense[i + 1] < kAtaStatusReturnLength || i + 14 > end) return;
    const std::uint8_t* p = &sense[i];
    d.ata = AtaStatusReturn{.extend = (p[2] & 0x01) != 0,
                            .error = p[3],
                            .count = p[5],
                            .lbaLow = p[7],
                            .lbaMid = p[9],
                            .lbaHigh = p[11],
                            .device = p[12],
                            .status = p[13],
                            .countPrev = p[4],
                            .lbaLowPrev = p[6],
                            .lbaMidPrev = p[8],
                            .lbaHighPrev = p[10]};
    return;
  }
}

void ReadFixedAta(std::span<const std::uint8_t> sense, SenseData& d) {
  auto at = [&](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
  // The four registers start at `regs`, the flags byte and the LBA at `rest`
  // and rest + 1 (SAT: 3 and 8; kernel 6.1: 8 and 16).
  auto fixedAt = [&](std::size_t regs, std::size_t rest) {
    d.ata = AtaStatusReturn{.extend = (at(rest) & kFixedExtend) != 0,
                            .error = at(regs),
                            .count = at(regs + 3),
                            .lbaLow = at(rest + 1),
                            .lbaMid = at(rest + 2),
                            .lbaHigh = at(rest + 3),
                            .device = at(regs + 2),
                            .status = at(regs + 1)};
  };
  if (at(3) | at(4) | at(5) | at(6)) {
    fixedAt(3, 8);
  } else if (at(9) != 0) {
    fixedAt(8, 16);
  }
}

}  // namespace

SenseData ReadSenseData(std::span<const std::uint8_t> sense) {
  SenseData d;
  if (sense.empty() || sense[0] == 0) return d;
  auto at = [&](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
  const std::uint8_t responseCode = sense[0] & 0x7E;
  if (responseCode == 0x70) {
    d.format = SenseData::Format::fixed;
    d.key = at(2) & 0x0F;
    d.flags = at(2) & (kSenseFilemark | kSenseEom | kSenseIli);
    d.information = {at(3), at(4), at(5), at(6)};
    d.asc = at(12);
    d.ascq = at(13);
    if ((at(15) & (kSksv | kFieldInCommand)) == (kSksv | kFieldInCommand) && at(16) == 0) {
      d.fieldPointer = at(17);
    }
    ReadFixedAta(sense, d);
  } else if (responseCode == 0x72) {
    d.format = SenseData::Format::descriptor;
    d.key = at(1) & 0x0F;
    d.asc = at(2);
    d.ascq = at(3);
    ReadDescriptorAta(sense, d);
  } else {
    d.format = SenseData::Format::other;
  }
  return d;
}

std::vector<std::uint8_t> WriteSenseData(const SenseData& d) {
  if (d.format == SenseData::Format::descriptor) {
    std::vector<std::uint8_t> sense(d.ata ? 22 : 8, 0);
    sense[0] = 0x72;
    sense[1] = d.key;
    sense[2] = d.asc;
    sense[3] = d.ascq;
    if (d.ata) {
      const AtaStatusReturn& r = *d.ata;
      sense[7] = 14;
      const std::uint8_t descriptor[14] = {kAtaStatusReturnDescriptor,
                                           kAtaStatusReturnLength,
                                           r.extend ? std::uint8_t{1} : std::uint8_t{0},
                                           r.error,
                                           r.countPrev,
                                           r.count,
                                           r.lbaLowPrev,
                                           r.lbaLow,
                                           r.lbaMidPrev,
                                           r.lbaMid,
                                           r.lbaHighPrev,
                                           r.lbaHigh,
                                           r.device,
                                           r.status};
      std::copy(std::begin(descriptor), std::end(descriptor), sense.begin() + 8);
    }
    return sense;
  }
  std::vector<std::uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = static_cast<std::uint8_t>(d.flags | d.key);
  std::copy(d.information.begin(), d.information.end(), sense.begin() + 3);
  sense[7] = 10;  // additional sense length
  sense[12] = d.asc;
  sense[13] = d.ascq;
  if (d.fieldPointer) {
    sense[15] = kSksv | kFieldInCommand;
    sense[17] = *d.fieldPointer;
  }
  if (d.ata) {
    const AtaStatusReturn& r = *d.ata;
    sense[3] = r.error;
    sense[4] = r.status;
    sense[5] = r.device;
    sense[6] = r.count;
    sense[8] = r.extend ? kFixedExtend : 0;
    sense[9] = r.lbaLow;
    sense[10] = r.lbaMid;
    sense[11] = r.lbaHigh;
  }
  return sense;
}

}  // namespace brisquel
