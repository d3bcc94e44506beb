// The 512 bytes a bench drive answers IDENTIFY DEVICE with, built from its
// identity (or replayed from a captured sector), and the identity a captured
// sector describes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brisquel::sim {

inline constexpr std::size_t kIdentifyBytes = 512;

struct DriveIdentity {
  std::string model = "BENCH SATA DRIVE";
  std::string firmware = "BF1.00";
  std::string serial = "SIM0000001";
  // What IDENTIFY says about DOWNLOAD MICROCODE; the drive acts on it, aborting
  // what it says it does not support. Segment sizes in blocks, 0 or 0xFFFF
  // for "not said" (the drive then takes 1 to 64).
  bool dlmcSupported = true;
  bool offsetsSupported = true;
  std::uint16_t segmentMin = 1;
  std::uint16_t segmentMax = 64;
  // Words 108-111, NAA first; 0 for a drive that gives none.
  std::uint64_t wwn = 0;
  // A captured sector replayed in place of the one built from the fields
  // above (which then follow it); the revision words follow the active firmware.
  std::optional<std::vector<std::uint8_t>> sector{};
};

// The identity, support bits and segment sizes a captured 512-byte IDENTIFY
// sector describes, with the sector kept to be replayed. None for a sector of
// another size.
std::optional<DriveIdentity> IdentityFromSector(std::span<const std::uint8_t> sector);

// The sector for `identity` with `revision` in its firmware words, closed by
// the integrity word (signature A5h and the checksum) unless a captured sector
// came without the signature.
std::array<std::uint8_t, kIdentifyBytes> IdentifySector(const DriveIdentity& identity,
                                                        const std::string& revision);

}  // namespace brisquel::sim
