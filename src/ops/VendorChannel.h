// The drive's vendor command channel: a vendor command switches the drive into
// vendor command mode, then 512-byte key sectors go out with SMART WRITE LOG to
// log 0xBE and the drive's answer comes back with SMART READ LOG from log 0xBE.
// The key sector is built in, and the status read into, SectorBuffer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// The drive's answer to a key sector.
struct KeyReply {
  CommandResult sent;                  // the key sector's own command
  std::optional<VendorStatus> status;  // none when the drive refused the status read

  std::uint32_t replyValue() const { return status ? status->replyValue : 0; }
  // The drive took the key sector and answered with primaryCode 0 or 0xFFFF.
  bool Accepted() const;
};

// The vendor-command enable, with the SMART READ LOG 0xBB form as fallback when
// the drive rejects it (not when nothing answers, or on Break). ERR set
// afterwards means both failed.
CommandResult EnableVendorCommands(TransportContext& t);
// Sends a key sector and reads the status back. Sets ERR when the drive
// answers with a primaryCode other than 0 or 0xFFFF.
KeyReply SendKeySector(TransportContext& t, const KeySector& key);
// Reads the status sector into SectorBuffer. Over PIO a failed read keeps what
// the buffer held.
CommandResult ReadVendorStatus(TransportContext& t);
// ReadVendorStatus, and the codes it brought; none when the read failed.
std::optional<VendorStatus> ReadVendorStatusCodes(TransportContext& t);
// Sent before every download: enable, then the preamble key sector. Stops at
// the first command that no drive answers or that Break ends; that command's
// result is returned then, else the last one's.
CommandResult SendVendorPreamble(TransportContext& t);
// Reads the status once more and names its codes (VendorStatusText), or says
// that the drive refused the read.
std::string VendorErrorText(TransportContext& t);
// The primary code's name, a space, then " - " and the name of each further
// code that is not 0.
std::string VendorStatusText(const VendorStatus& status);

}  // namespace brisquel
