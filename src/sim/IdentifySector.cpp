#include "sim/IdentifySector.h"

#include <algorithm>
#include <string_view>

#include "text/Trim.h"
#include "transport/Bytes.h"

namespace brisquel::sim {

namespace {

using Words = std::array<std::uint16_t, kIdentifyBytes / 2>;

// Identity and revision texts are padded at the end with spaces or NULs.
std::string Trimmed(std::string_view text) {
  return std::string(TrimEnd(text, std::string_view(" \0", 2)));
}

// Text in IDENTIFY data: two characters per word, the high byte first.
std::string SectorText(std::span<const std::uint8_t> sector, int firstWord, int words) {
  std::string text;
  for (int i = firstWord; i < firstWord + words; ++i) {
    text += static_cast<char>(sector[2 * i + 1]);
    text += static_cast<char>(sector[2 * i]);
  }
  text = Trimmed(text);
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

void PutString(Words& words, int first, int count, const std::string& text) {
  for (int i = 0; i < count; ++i) {
    auto at = [&](std::size_t k) {
      return k < text.size() ? static_cast<std::uint8_t>(text[k]) : std::uint8_t{' '};
    };
    words[first + i] = static_cast<std::uint16_t>(at(2 * i) << 8 | at(2 * i + 1));
  }
}

Words BuiltWords(const DriveIdentity& identity, const std::string& revision) {
  Words w{};
  constexpr std::uint32_t kSectors = 16'777'216;  // 8 GiB
  w[0] = 0x0040;                                  // fixed disk
  w[1] = 16383;
  w[3] = 16;
  w[6] = 63;
  PutString(w, 10, 10, identity.serial);
  PutString(w, 23, 4, revision);
  PutString(w, 27, 20, identity.model);
  w[47] = 0x8010;
  w[49] = 0x0200;  // LBA
  w[53] = 0x0006;
  w[60] = static_cast<std::uint16_t>(kSectors & 0x0FFFFFFF);
  w[61] = static_cast<std::uint16_t>((kSectors & 0x0FFFFFFF) >> 16);
  w[80] = 0x01F0;                                    // ATA/ATAPI-4 to ATA8-ACS
  w[82] = 0x0001;                                    // SMART
  w[83] = identity.dlmcSupported ? 0x4401 : 0x4400;  // 48-bit, DOWNLOAD MICROCODE
  w[84] = identity.wwn ? 0x4100 : 0x4000;  // bit 8: a world wide name in 108-111
  w[85] = 0x0001;
  w[86] = identity.dlmcSupported ? 0x0401 : 0x0400;
  w[87] = w[84];
  w[100] = static_cast<std::uint16_t>(kSectors);
  w[101] = static_cast<std::uint16_t>(kSectors >> 16);
  for (int i = 0; i < 4; ++i) w[108 + i] = static_cast<std::uint16_t>(identity.wwn >> (48 - 16 * i));
  w[119] = identity.offsetsSupported ? 0x4010 : 0x4000;  // segmented DOWNLOAD MICROCODE
  w[120] = w[119];
  w[234] = identity.segmentMin;
  w[235] = identity.segmentMax;
  return w;
}

}  // namespace

std::optional<DriveIdentity> IdentityFromSector(std::span<const std::uint8_t> sector) {
  if (sector.size() != kIdentifyBytes) return std::nullopt;
  DriveIdentity identity;
  identity.serial = SectorText(sector, 10, 10);
  identity.firmware = SectorText(sector, 23, 4);
  identity.model = SectorText(sector, 27, 20);
  identity.dlmcSupported = GetU16(sector.data() + 2 * 83) & 0x0001;
  identity.offsetsSupported = GetU16(sector.data() + 2 * 119) & 0x0010;
  identity.segmentMin = GetU16(sector.data() + 2 * 234);
  identity.segmentMax = GetU16(sector.data() + 2 * 235);
  identity.sector.emplace(sector.begin(), sector.end());
  return identity;
}

std::array<std::uint8_t, kIdentifyBytes> IdentifySector(const DriveIdentity& identity,
                                                        const std::string& revision) {
  std::array<std::uint8_t, kIdentifyBytes> bytes{};
  if (identity.sector) {
    std::copy_n(identity.sector->begin(), kIdentifyBytes, bytes.begin());
    // The revision words tell the firmware that runs now.
    Words w{};
    PutString(w, 23, 4, revision);
    for (int i = 23; i < 27; ++i) PutU16(bytes.data() + 2 * i, w[i]);
    // A sector without the signature keeps its last word as it was.
    if (bytes[510] != 0xA5) return bytes;
  } else {
    const Words w = BuiltWords(identity, revision);
    for (std::size_t i = 0; i < w.size(); ++i) PutU16(bytes.data() + 2 * i, w[i]);
  }
  // Word 255: signature 0xA5, then the byte that makes the sector sum to 0.
  bytes[510] = 0xA5;
  std::uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  bytes[511] = static_cast<std::uint8_t>(0x100 - sum);
  return bytes;
}

}  // namespace brisquel::sim
