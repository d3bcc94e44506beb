// The drive's vendor command channel: a vendor command switches the drive into
// vendor command mode, then 512-byte key sectors go out with SMART WRITE LOG to
// log 0xBE and the drive's answer comes back with SMART READ LOG from log 0xBE.
// The key sector is built in, and the status read into, SectorBuffer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "transport/TransportState.h"

namespace brisquel {

// The first eight little-endian words of a key sector; the rest is zero.
struct KeySector {
  std::array<std::uint16_t, 8> words{};

  static constexpr KeySector Preamble() { return {{0x000E, 0x0001, 0x000F, 0x0002, 0, 0, 0, 0}}; }
  // Announces a vendor download of `sectors` sectors.
  static constexpr KeySector Download(std::uint32_t sectors) {
    return {{0x0019, 0x0005, 0x0108, 0x0000, static_cast<std::uint16_t>(sectors),
             static_cast<std::uint16_t>(sectors >> 16), 0, 0}};
  }
};

// The fields kept from a status sector; every other byte is ignored.
struct VendorStatus {
  std::uint16_t primaryCode = 0;  // offset 24; 0 is success
  std::uint32_t replyValue = 0;   // offset 26
  std::uint16_t thirdCode = 0;    // offset 48
  std::uint16_t secondCode = 0;   // offset 406

  static VendorStatus From(std::span<const std::uint8_t> sector);
};

// What VendorErrorText says when the drive refuses the status read, which
// drives without the vendor channel do.
inline constexpr const char* kNoVendorStatusText =
    "NO VENDOR STATUS (the drive refused the status read)";

// The vendor-command enable, with the SMART READ LOG 0xBB form as fallback when
// the drive rejects it. ERR set afterwards means both failed.
void EnableVendorCommands(TransportContext& t);
// Sends a key sector, reads the status back and returns its replyValue. Sets
// ERR when the drive answers with a primaryCode other than 0 or 0xFFFF.
std::uint32_t SendKeySector(TransportContext& t, const KeySector& key);
// Reads the status sector into SectorBuffer. Over PIO a failed read keeps what
// the buffer held.
void ReadVendorStatus(TransportContext& t);
// Sent before every download: enable, then the preamble key sector.
void SendVendorPreamble(TransportContext& t);
// Reads the status once more and names its codes: the primary name, a space,
// then " - " and the name of each further code that is not 0.
std::string VendorErrorText(TransportContext& t);

}  // namespace brisquel
