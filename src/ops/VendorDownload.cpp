#include "ops/VendorDownload.h"

#include <algorithm>

#include "ops/DriveCapabilities.h"
#include "ops/FirmwareFile.h"
#include "ops/VendorChannel.h"
#include "transport/AtaCommands.h"

namespace brisquel {

CommandResult WriteVendorData(TransportContext& t, std::uint8_t n) {
  return Dispatch(t, WriteVendorDataCommand(n, t.state.TransferBuffer));
}

DownloadOutcome SendVendorDownload(OperationContext& ctx, std::span<const std::uint8_t> image) {
  using Result = DownloadOutcome::Result;
  TransportContext& t = ctx.transport;
  TransportState& s = t.state;
  DownloadOutcome outcome;
  outcome.mode = kVendorDownloadMode;
  // The drive's status goes with every failure it can still answer for.
  const auto fail = [&](Result result, std::string what, bool statusJustRead = false) {
    outcome.result = result;
    outcome.what = std::move(what);
    if (!statusJustRead && VendorStatusReadable(result)) outcome.vendor = ReadVendorStatusCodes(t);
    return outcome;
  };

  const CommandResult enabled = EnableVendorCommands(t);
  if (enabled.EndsTheOperation()) {
    return fail(ResultOf(enabled), WhatEnded(enabled, "the vendor command enable", t));
  }
  const auto announced = static_cast<std::uint32_t>(image.size() / kSectorSize);
  const KeyReply key = SendKeySector(t, KeySector::Download(announced));
  outcome.vendor = key.status;
  if (!key.sent) return fail(ResultOf(key.sent), WhatEnded(key.sent, "the download key sector", t));
  if (!key.Accepted()) {
    return fail(Result::refusedByDrive,
                key.status ? "the drive refused the download key sector"
                           : "the drive gave no answer to the download key sector",
                true);
  }
  outcome.toSend = key.replyValue();
  ctx.host.FirmwareProgress(0, outcome.toSend);

  // Each chunk is one transfer, which the disk's queue may hold smaller.
  const std::uint32_t chunk =
      std::min(kVendorChunkSectors, TransportSegmentLimit(s.DriveTarget.kind, ctx.queueBytes));
  std::size_t position = 0;
  while (outcome.sent < outcome.toSend) {
    if (s.BreakFlag) return fail(Result::stoppedByBreak, "stopped by Break");
    if (position >= image.size()) {
      // Whatever would go out now is not the user's file: stale buffer
      // contents or invented padding could be flashed as firmware.
      t.host.LogLine(
          "Download Microcode (DPTM) - Stopped at the end of the file: the drive asks "
          "for " +
          std::to_string(outcome.toSend) + " sectors, the file holds " +
          std::to_string(outcome.sent));
      return fail(Result::stoppedEarly, "the drive asked for " + std::to_string(outcome.toSend) +
                                            " sectors and the file holds " +
                                            std::to_string(outcome.sent));
    }
    const std::size_t fileSectorsLeft = (image.size() - position + kSectorSize - 1) / kSectorSize;
    const auto n = static_cast<std::uint32_t>(
        std::min<std::size_t>({outcome.toSend - outcome.sent, chunk, fileSectorsLeft}));
    // Only the file's trailing partial sector can be short; it is padded with zeros.
    position += StageSectors(s.TransferBuffer, image, position, n);
    const CommandResult written = WriteVendorData(t, static_cast<std::uint8_t>(n));
    if (!written) {
      outcome.sent += written.sectorsWritten;
      return fail(ResultOf(written), WhatEnded(written, "SMART WRITE LOG (firmware data)", t));
    }
    outcome.sent += n;
    ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
    t.host.PumpMessages();
  }
  if (s.BreakFlag) return fail(Result::stoppedByBreak, "stopped by Break");

  outcome.vendor = ReadVendorStatusCodes(t);
  if (!outcome.vendor) {
    return fail(Result::refusedByDrive, "the drive did not report its status", true);
  }
  if (outcome.vendor->primaryCode != 0) {
    return fail(Result::refusedByDrive, "the drive reported an error", true);
  }
  outcome.result = Result::completed;
  return outcome;
}

DownloadOutcome VendorDownloadFromFile(OperationContext& ctx, const std::string& file,
                                       std::span<const std::uint8_t> image) {
  DownloadOutcome outcome;
  outcome.file = file;
  if (image.empty()) {
    outcome.result = DownloadOutcome::Result::nothingToSend;
    outcome.what = "the file is empty";
    ctx.host.LogLine(ClosingLine(outcome));
    return outcome;
  }
  // No drive, an expired time limit or Break end it here, with their own
  // closing line; a drive that refuses the preamble is still asked to download.
  CommandResult preamble = SendVendorPreamble(ctx.transport);
  // Break once the drive has answered leaves that answer standing: nothing more goes.
  if (ctx.transport.state.BreakFlag) preamble.end = CommandEnd::stopped;
  if (preamble.EndsTheOperation()) {
    outcome.result = ResultOf(preamble);
    outcome.what = WhatEnded(preamble, "the vendor preamble", ctx.transport);
    ctx.host.LogLine(ClosingLine(outcome));
    return outcome;
  }
  ctx.host.LogLine(DownloadLinePrefix(kVendorDownloadMode, file) + "Begin");
  outcome = SendVendorDownload(ctx, image);
  outcome.file = file;
  ctx.host.LogLine(ClosingLine(outcome));
  return outcome;
}

}  // namespace brisquel
