#include "ops/DriveCapabilities.h"

#include <algorithm>

#include "ops/StandardDownload.h"
#include "transport/Bytes.h"

namespace brisquel {
namespace {

std::uint16_t Word(std::span<const std::uint8_t, kSectorSize> sector, int index) {
  return GetU16(&sector[static_cast<std::size_t>(2 * index)]);
}

// Words whose bits 15:14 read 01 carry valid bits; a drive that leaves them
// 00 or 11 says nothing there.
bool Valid(std::uint16_t word) {
  return (word & 0xC000) == 0x4000;
}

Said Bit(bool valid, std::uint16_t word, int bit) {
  if (!valid) return Said::notSaid;
  return (word >> bit) & 1 ? Said::yes : Said::no;
}

std::optional<std::uint16_t> Blocks(std::uint16_t word) {
  if (word == 0x0000 || word == 0xFFFF) return std::nullopt;
  return word;
}

std::string Number(std::uint32_t value) {
  return std::to_string(value);
}

}  // namespace

const char* SaidName(Said said) {
  switch (said) {
    case Said::yes:
      return "yes";
    case Said::no:
      return "no";
    case Said::notSaid:
      break;
  }
  return "not said";
}

DriveCapabilities CapabilitiesOf(std::span<const std::uint8_t, kSectorSize> sector) {
  DriveCapabilities c;
  // Word 83 vouches for words 82-83, word 87 for words 85-86.
  const bool supportedValid = Valid(Word(sector, 83));
  const bool enabledValid = Valid(Word(sector, 87));
  c.dlmcSupported = Bit(supportedValid, Word(sector, 83), 0);
  c.dlmcEnabled = Bit(enabledValid, Word(sector, 86), 0);
  c.smartSupported = Bit(supportedValid, Word(sector, 82), 0);
  c.smartEnabled = Bit(enabledValid, Word(sector, 85), 0);
  c.offsetsSupported = Bit(Valid(Word(sector, 119)), Word(sector, 119), 4);
  c.offsetsEnabled = Bit(Valid(Word(sector, 120)), Word(sector, 120), 4);
  c.segmentMin = Blocks(Word(sector, 234));
  c.segmentMax = Blocks(Word(sector, 235));

  const bool lba48 = supportedValid && (Word(sector, 83) & 0x0400);
  if (lba48) {
    for (int i = 3; i >= 0; --i) c.sectors = c.sectors << 16 | Word(sector, 100 + i);
  }
  if (c.sectors == 0) c.sectors = std::uint32_t{Word(sector, 61)} << 16 | Word(sector, 60);
  return c;
}

bool DlmcModeUsesOffsets(std::uint8_t mode) {
  return mode == kDlmcSegmented || mode == kDlmcDeferred;
}

std::optional<std::string> DlmcPreflightRefusal(const DriveCapabilities& drive, std::uint8_t mode) {
  if (drive.dlmcSupported == Said::no) {
    return "the drive says it does not support DOWNLOAD MICROCODE (IDENTIFY word 83 bit 0 is "
           "clear)";
  }
  if (DlmcModeUsesOffsets(mode) && drive.offsetsSupported == Said::no) {
    return "the drive says it does not support DOWNLOAD MICROCODE with offsets, which modes 03 "
           "and 0E need (IDENTIFY word 119 bit 4 is clear)";
  }
  return std::nullopt;
}

std::uint32_t TransportSegmentLimit(TransportKind kind, std::uint32_t queueBytes) {
  std::uint32_t limit = 0xFFFF;  // the count register and LBA low
  if (kind == TransportKind::scsiPassThrough) limit = kScsiMaxBlocksPerCommand;
  if (kind != TransportKind::pio && queueBytes >= kSectorSize) {
    limit = std::min<std::uint32_t>(limit, queueBytes / kSectorSize);
  }
  return limit;
}

SegmentPlan PlanSegments(const DriveCapabilities& drive, std::uint32_t transportLimit,
                         const SegmentRequest& request, std::uint32_t totalBlocks) {
  SegmentPlan plan;
  const std::uint32_t asked = request.fromDrive
                                  ? drive.segmentMax.value_or(kDlmcSegmentBlocks)
                                  : request.blocks.value_or(kDlmcSegmentBlocks);
  plan.largest = std::max<std::uint32_t>(1, std::min(asked, transportLimit));
  if (request.fromDrive) {
    plan.why = drive.segmentMax ? "the drive's maximum of " + Number(asked)
                                : "the drive states no maximum, so " + Number(asked);
  } else {
    plan.why = Number(asked) + (request.blocks ? " as asked" : ", the usual size");
  }
  if (plan.largest < asked) plan.why += ", cut to the transport's " + Number(plan.largest);
  if (drive.segmentMax && plan.largest > *drive.segmentMax) {
    plan.largest = *drive.segmentMax;
    plan.why += ", cut to the drive's maximum of " + Number(plan.largest);
  }
  if (!drive.segmentMin) return plan;
  const std::uint32_t min = *drive.segmentMin;
  if (plan.largest < min) {
    plan.refusal = "segments of at most " + Number(plan.largest) + " blocks (" + plan.why +
                   ") are below the drive's minimum of " + Number(min);
    return plan;
  }
  if (totalBlocks == 0) return plan;
  const std::uint32_t count = (totalBlocks + plan.largest - 1) / plan.largest;
  const std::uint32_t last = totalBlocks - (count - 1) * plan.largest;
  if (last >= min) return plan;
  if (totalBlocks / count < min) {
    plan.refusal = "an image of " + Number(totalBlocks) + " blocks cannot be cut into segments of " +
                   Number(min) + " to " + Number(plan.largest) + " blocks (the drive's minimum is " +
                   Number(min) + ")";
    return plan;
  }
  plan.even = true;
  plan.largest = (totalBlocks + count - 1) / count;
  plan.why += "; " + Number(count) + " even segments, so that none is below the drive's minimum of " +
              Number(min);
  return plan;
}

}  // namespace brisquel
