// What a drive's IDENTIFY data says about updating its firmware, and the
// checks the command line makes with it before a download. Pure functions of
// the sector, so that any front end can make the same checks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ops/Identify.h"
#include "ops/SegmentPlan.h"
#include "transport/AtaTypes.h"

namespace brisquel {

// A drive may leave a word invalid (bits 15:14 not 01) or a value unreported.
enum class Said { yes, no, notSaid };

const char* SaidName(Said said);  // "yes", "no", "not said"

struct DriveCapabilities {
  Said dlmcSupported = Said::notSaid;     // word 83 bit 0
  Said dlmcEnabled = Said::notSaid;       // word 86 bit 0
  Said offsetsSupported = Said::notSaid;  // word 119 bit 4: DOWNLOAD MICROCODE mode 03
  Said offsetsEnabled = Said::notSaid;    // word 120 bit 4
  // In 512-byte blocks (words 234, 235); 0000h and FFFFh say nothing.
  std::optional<std::uint16_t> segmentMin, segmentMax;
  Said smartSupported = Said::notSaid;  // word 82 bit 0
  Said smartEnabled = Said::notSaid;    // word 85 bit 0
  std::uint64_t sectors = 0;            // words 100-103 for 48-bit drives, else 60-61
};

DriveCapabilities CapabilitiesOf(std::span<const std::uint8_t, kSectorSize> sector);

// Modes 03 and 0E carry the image in segments at offsets.
bool DlmcModeUsesOffsets(std::uint8_t mode);

// Why a DOWNLOAD MICROCODE in this mode should not go to a drive with these
// capabilities, or none. Only what the drive says counts: a word it leaves
// unsaid refuses nothing.
std::optional<std::string> DlmcPreflightRefusal(const DriveCapabilities& drive, std::uint8_t mode);

// The most blocks one DOWNLOAD MICROCODE command can carry on this transport:
// 255 over SCSI pass-through (SAT's 8-bit count), the disk queue's largest
// transfer where it is known (queueBytes, 0 if not), and what the two
// register bytes of the count reach.
std::uint32_t TransportSegmentLimit(TransportKind kind, std::uint32_t queueBytes);

// How an image is cut into segments for modes 03 and 0E. The size asked for
// (64 when none is, the drive's maximum for `auto`) is the largest segment;
// it is cut to the drive's stated maximum and the transport's limit. When the
// plain split would leave a last segment below the drive's stated minimum,
// the image is split evenly into as many segments as the plain split has.
struct SegmentRequest {
  std::optional<std::uint32_t> blocks;  // none: 64
  bool fromDrive = false;               // `auto`
};
SegmentPlan PlanSegments(const DriveCapabilities& drive, std::uint32_t transportLimit,
                         const SegmentRequest& request, std::uint32_t totalBlocks);
}  // namespace brisquel
