#include "ops/StandardDownload.h"

#include <algorithm>

#include "ops/FirmwareFile.h"
#include "ops/VendorChannel.h"
#include "transport/AtaCommands.h"

namespace brisquel {
namespace {

constexpr const char* kCommandName = "DOWNLOAD MICROCODE";

bool Segmented(std::uint8_t mode) {
  return mode == kDlmcSegmented || mode == kDlmcDeferred;
}

std::uint32_t BlocksOf(std::uintmax_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
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

DownloadOutcome DownloadMicrocodeData(OperationContext& ctx, std::uint8_t mode,
                                      std::span<const std::uint8_t> image) {
  TransportContext& t = ctx.transport;
  using Result = DownloadOutcome::Result;
  DownloadOutcome outcome;
  outcome.mode = mode;
  outcome.toSend = BlocksOf(image.size());
  if (const auto refusal = DownloadRefusal(t.state.DriveTarget.kind, mode, image.size())) {
    outcome.result = Result::refused;
    outcome.what = *refusal;
    return outcome;
  }
  if (image.empty()) {
    outcome.result = Result::nothingToSend;
    outcome.what = "the file is empty";
    return outcome;
  }
  TransportState& s = t.state;
  // Only the blocks that go out are zeroed before the image goes in, each with
  // its padding; the rest of the buffer is never sent and stays untouched.
  ctx.host.FirmwareProgress(0, outcome.toSend);

  CommandResult last;
  if (Segmented(mode)) {
    std::size_t position = 0;
    const std::uint32_t segment = ctx.segmentBlocks.value_or(kDlmcSegmentBlocks);
    while (outcome.sent < outcome.toSend && !s.BreakFlag) {
      const std::uint32_t n = std::min(outcome.toSend - outcome.sent, segment);
      // The last segment's padding must be zeros, not the previous segment.
      position += StageSectors(s.TransferBuffer, image, position, n);
      // Break during a segment ends the loop after it; the drive has taken it.
      last = Dispatch(t, DownloadMicrocodeCommand(mode, n, outcome.sent, s.TransferBuffer));
      // A segment the drive did not take leaves a hole in the image.
      if (!last) {
        outcome.sent += last.sectorsWritten;
        break;
      }
      outcome.countRegister = last.returnedCount;
      // Only the last segment may say the image is complete.
      if (outcome.sent + n < outcome.toSend && last.returnedCount && *last.returnedCount != 1 &&
          !outcome.earlyAnswer) {
        outcome.earlyAnswer = {outcome.sent, *last.returnedCount};
      }
      outcome.sent += n;
      ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
    }
  } else {
    StageSectors(s.TransferBuffer, image, 0, outcome.toSend);
    last = Dispatch(t, DownloadMicrocodeCommand(mode, outcome.toSend, 0, s.TransferBuffer));
    outcome.sent = last ? outcome.toSend : last.sectorsWritten;
    outcome.countRegister = last.returnedCount;
    ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
  }
  if (last && outcome.sent < outcome.toSend) last.end = CommandEnd::stopped;
  outcome.result = ResultOf(last);
  outcome.what = WhatEnded(last, kCommandName, t);
  return outcome;
}

CommandResult ActivateDeferredMicrocode(TransportContext& t) {
  return Dispatch(t, ActivateMicrocodeCommand());
}

DownloadOutcome RunStandardDownload(OperationContext& ctx, std::uint8_t mode) {
  using Result = DownloadOutcome::Result;
  DownloadOutcome outcome;
  outcome.mode = mode;
  const std::optional<std::string> path = ctx.host.OpenFirmwareDialog();
  if (!path) return outcome;
  outcome.file = FileNameOf(*path);
  const std::string prefix = DownloadLinePrefix(mode, outcome.file);

  const FirmwareFile file = LoadFirmwareFile(*path, kDlmcMaxImageBytes);
  if (file.outcome == FirmwareFile::Outcome::unreadable) {
    outcome.result = Result::refused;
    outcome.what = "Cannot read the file " + *path;
    ctx.host.LogLine(prefix + outcome.what);
    return outcome;
  }
  if (const auto refusal = DownloadRefusal(ctx.transport.state.DriveTarget.kind, mode, file.size)) {
    outcome.result = Result::refused;
    outcome.what = *refusal;
    ctx.host.LogLine(prefix + outcome.what);
    return outcome;
  }
  // An empty file is refused before any command goes out: one line, no "Start".
  if (!file.image.empty()) ctx.host.LogLine(prefix + "Start");
  outcome = DownloadMicrocodeData(ctx, mode, file.image);
  outcome.file = FileNameOf(*path);
  if (outcome.Failed() && outcome.result != Result::nothingToSend &&
      VendorStatusReadable(outcome.result)) {
    outcome.vendor = ReadVendorStatusCodes(ctx.transport);
  }
  ctx.host.LogLine(ClosingLine(outcome));
  return outcome;
}

DownloadOutcome DownloadMicrocodeButton(OperationContext& ctx, std::optional<std::uint8_t> mode) {
  ctx.transport.state.BreakFlag = false;
  const OperationButtonsDisabled buttons(ctx.host);
  DownloadOutcome outcome;
  outcome.mode = mode.value_or(0);
  const CommandResult preamble = SendVendorPreamble(ctx.transport);
  // With no drive on the channel there is nothing to choose a file for.
  if (preamble.EndsTheOperation()) {
    outcome.result = ResultOf(preamble);
    outcome.what = WhatEnded(preamble, "the vendor preamble", ctx.transport);
    return outcome;
  }
  if (!mode) return outcome;
  if (*mode == kDlmcActivate) {
    // Logs nothing, whatever the drive answers.
    const CommandResult activated = ActivateDeferredMicrocode(ctx.transport);
    outcome.result = ResultOf(activated);
    outcome.what = WhatEnded(activated, kCommandName, ctx.transport);
    return outcome;
  }
  return RunStandardDownload(ctx, *mode);
}

}  // namespace brisquel
