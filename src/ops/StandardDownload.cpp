#include "ops/StandardDownload.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ops/FirmwareFile.h"
#include "ops/VendorChannel.h"
#include "transport/Dispatch.h"

namespace brisquel {
namespace {

constexpr std::uint8_t kDownloadMicrocode = 0x92;

bool Segmented(std::uint8_t mode) {
  return mode == kDlmcSegmented || mode == kDlmcDeferred;
}

std::uint32_t BlocksOf(std::uintmax_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

// One DOWNLOAD MICROCODE data-out command of `blocks` blocks from the start of
// TransferBuffer. The PIO data phase goes ahead whatever ERR says.
void SendDownload(TransportContext& t, std::uint8_t mode, std::uint32_t blocks,
                  std::uint32_t offset) {
  AtaCommand c;
  c.regs = {.features = mode,
            .count = static_cast<std::uint8_t>(blocks),
            .lbaLow = static_cast<std::uint8_t>(blocks >> 8),
            .lbaMid = static_cast<std::uint8_t>(offset),
            .lbaHigh = static_cast<std::uint8_t>(offset >> 8),
            .device = 0xA0,
            .command = kDownloadMicrocode};
  c.direction = DataDirection::out;
  c.buffer = t.state.TransferBuffer;
  c.length = blocks * kSectorSize;
  c.sectors = blocks;
  c.pioData = PioData::writeSectors;
  c.pioDataNeedsNoError = false;
  Dispatch(t, c);
}

bool Succeeded(const TransportState& s) {
  return !s.AtaStatusBits.ERR && !s.BreakFlag;
}

std::string ModeHex(std::uint8_t mode) {
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(mode));
  return hex;
}

}  // namespace

std::optional<std::string> DownloadRefusal(TransportKind kind, std::uint8_t mode,
                                           std::uintmax_t imageBytes) {
  if (imageBytes > kDlmcMaxImageBytes) {
    return "Refused: the file has " + std::to_string(imageBytes) + " bytes, more than the " +
           std::to_string(kDlmcMaxImageBytes) + " bytes a download can carry";
  }
  const std::uint32_t blocks = BlocksOf(imageBytes);
  if (kind == TransportKind::scsiPassThrough && !Segmented(mode) &&
      blocks > kScsiMaxBlocksPerCommand) {
    return "Refused: " + std::to_string(blocks) + " blocks in one command cannot go over SCSI " +
           "pass-through (at most " + std::to_string(kScsiMaxBlocksPerCommand) +
           "); use Segmented (03) or Deferred (0E)";
  }
  return std::nullopt;
}

bool DownloadMicrocodeData(TransportContext& t, std::uint8_t mode,
                           std::span<const std::uint8_t> image) {
  if (DownloadRefusal(t.state.DriveTarget.kind, mode, image.size())) return false;
  TransportState& s = t.state;
  const std::uint32_t blockCount = BlocksOf(image.size());
  // Only the blocks that go out are zeroed before the image goes in, each with
  // its padding; the rest of the buffer is never sent and stays untouched.

  if (Segmented(mode)) {
    std::uint32_t remaining = blockCount;
    std::uint32_t offset = 0;
    std::size_t position = 0;
    // A failed segment does not stop the loop; the outcome is the last one's.
    while (remaining > 0 && !s.BreakFlag) {
      const std::uint32_t n = std::min(remaining, kDlmcSegmentBlocks);
      remaining -= n;
      // The last segment's padding must be zeros, not the previous segment.
      position += StageSectors(s.TransferBuffer, image, position, n);
      SendDownload(t, mode, n, offset);
      offset += n;
    }
  } else {
    StageSectors(s.TransferBuffer, image, 0, blockCount);
    SendDownload(t, mode, blockCount, 0);
  }
  return Succeeded(s);
}

bool ActivateDeferredMicrocode(TransportContext& t) {
  AtaCommand c;
  c.regs = {.features = kDlmcActivate, .device = 0xA0, .command = kDownloadMicrocode};
  Dispatch(t, c);
  return Succeeded(t.state);
}

void RunStandardDownload(OperationContext& ctx, std::uint8_t mode) {
  const std::optional<std::string> path = ctx.host.OpenFirmwareDialog(true);
  if (!path) return;
  const std::string prefix =
      "Download Microcode " + ModeHex(mode) + " - " + FileNameOf(*path) + " - ";

  const FirmwareFile file = LoadFirmwareFile(*path, kDlmcMaxImageBytes);
  if (file.outcome == FirmwareFile::Outcome::unreadable) {
    ctx.host.LogLine(prefix + "Cannot read the file " + *path);
    return;
  }
  if (const auto refusal = DownloadRefusal(ctx.transport.state.DriveTarget.kind, mode, file.size)) {
    ctx.host.LogLine(prefix + *refusal);
    return;
  }

  ctx.host.LogLine(prefix + "Start");
  if (DownloadMicrocodeData(ctx.transport, mode, file.image)) {
    ctx.host.LogLine(prefix + "End - OK");
  } else {
    ReadVendorStatus(ctx.transport);
    ctx.host.LogLine(prefix + VendorErrorText(ctx.transport));
  }
}

void btUnlockClick(OperationContext& ctx, int dlmcTypeIndex) {
  ctx.transport.state.BreakFlag = false;
  const OperationButtonsDisabled buttons(ctx.host);
  SendVendorPreamble(ctx.transport);
  static constexpr std::uint8_t kModes[] = {kDlmcTemporary, kDlmcSegmented, kDlmcPermanent,
                                            kDlmcDeferred};
  if (dlmcTypeIndex >= 0 && dlmcTypeIndex < 4) {
    RunStandardDownload(ctx, kModes[dlmcTypeIndex]);
  } else if (dlmcTypeIndex == 4) {
    ActivateDeferredMicrocode(ctx.transport);  // logs nothing, whatever the drive answers
  }
}

}  // namespace brisquel
