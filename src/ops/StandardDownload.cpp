#include "ops/StandardDownload.h"

#include <algorithm>

#include "ops/DriveCapabilities.h"
#include "ops/FirmwareFile.h"
#include "ops/SegmentPlan.h"
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

// Over PIO a whole image is one command whose sectors go out one by one:
// each of them is progress, which the host otherwise hears of only at the end.
class SectorProgress : public UiHost {
 public:
  SectorProgress(OperationHost& host, std::uint32_t toSend) : host_(host), toSend_(toSend) {}
  void PumpMessages() override { host_.PumpMessages(); }
  bool KeyHeld(Key key) override { return host_.KeyHeld(key); }
  void LogLine(const std::string& text) override { host_.LogLine(text); }
  void SectorsWritten(std::uint32_t written) override {
    host_.FirmwareProgress(std::min(written, toSend_), toSend_);
  }

 private:
  OperationHost& host_;
  std::uint32_t toSend_;
};

}  // namespace

std::optional<std::string> ImageSizeRefusal(std::uintmax_t imageBytes) {
  if (imageBytes <= kDlmcMaxImageBytes) return std::nullopt;
  return "Refused: the file has " + std::to_string(imageBytes) + " bytes, more than the " +
         std::to_string(kDlmcMaxImageBytes) + " bytes a download can carry";
}

std::optional<std::string> DownloadRefusal(const DriveTarget& target, std::uint8_t mode,
                                           std::uintmax_t imageBytes, std::uint32_t queueBytes) {
  if (auto refusal = ImageSizeRefusal(imageBytes)) return refusal;
  const std::uint32_t blocks = BlocksOf(imageBytes);
  // The system refuses a larger transfer (Linux's SG_IO with EIO, Windows'
  // pass-through as an invalid parameter), so it would fail only after the
  // unlock; segments are cut to the limit and fit.
  if (!Segmented(mode) && target.kind != TransportKind::pio && queueBytes != 0 &&
      std::uintmax_t{blocks} * kSectorSize > queueBytes) {
    return "Refused: the image's " + std::to_string(blocks) + " blocks go in one command, more " +
           "than the " + std::to_string(queueBytes) + " bytes the system takes in one transfer " +
           "to this disk; use Segmented (03) or Deferred (0E), whose segments are cut to at most " +
           std::to_string(TransportSegmentLimit(target.kind, queueBytes)) + " blocks";
  }
  if (target.kind == TransportKind::scsiPassThrough && !Segmented(mode) &&
      blocks > kScsiMaxBlocksPerCommand && target.takesTransferLength != true) {
    return "Refused: " + std::to_string(blocks) + " blocks in one command cannot go over SCSI " +
           "pass-through (at most " + std::to_string(kScsiMaxBlocksPerCommand) +
           (target.takesTransferLength == false
                ? ": the USB bridge refuses a length taken from the transfer, T_LENGTH 3"
                : "") +
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
  if (const auto refusal =
          DownloadRefusal(t.state.DriveTarget, mode, image.size(), ctx.queueBytes)) {
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

  // Nothing has failed until a command does; Break before the first leaves it so.
  CommandResult last{CommandEnd::completed};
  std::optional<std::string> driveSaid;  // the count register contradicts the blocks sent
  if (Segmented(mode)) {
    std::size_t position = 0;
    while (outcome.sent < outcome.toSend && !s.BreakFlag) {
      const std::uint32_t n = SegmentAt(ctx.segments, outcome.toSend, outcome.sent);
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
      const std::uint32_t offset = outcome.sent;
      outcome.sent += n;
      ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
      if (outcome.sent == outcome.toSend || !last.returnedCount ||
          *last.returnedCount == kDlmcMoreExpected) {
        continue;
      }
      // Only the last segment may say the image is complete: whatever the
      // drive took as complete is not the user's whole file.
      if (*last.returnedCount == kDlmcApplied || *last.returnedCount == kDlmcSavedForActivation) {
        driveSaid = "the drive reported the download complete after " +
                    std::to_string(outcome.sent) + " of " + std::to_string(outcome.toSend) +
                    " blocks";
        break;
      }
      if (!outcome.earlyAnswer) outcome.earlyAnswer = {offset, *last.returnedCount};
    }
    if (last && !driveSaid && outcome.sent == outcome.toSend &&
        outcome.countRegister == kDlmcMoreExpected) {
      driveSaid = "the drive still waits for data";
    }
  } else if (!s.BreakFlag) {
    // Break pressed before the one command leaves it unsent, as it leaves a
    // segment unsent.
    StageSectors(s.TransferBuffer, image, 0, outcome.toSend);
    SectorProgress progress(ctx.host, outcome.toSend);
    TransportContext counted{s, t.ports, t.io, progress, t.observer, t.clock};
    last = Dispatch(counted, DownloadMicrocodeCommand(mode, outcome.toSend, 0, s.TransferBuffer));
    outcome.sent = last ? outcome.toSend : last.sectorsWritten;
    outcome.countRegister = last.returnedCount;
    ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
  }
  if (driveSaid) {
    outcome.result = Result::refusedByDrive;
    outcome.what = *driveSaid;
    return outcome;
  }
  if (last && outcome.sent < outcome.toSend) last.end = CommandEnd::stopped;
  outcome.result = ResultOf(last);
  outcome.what = WhatEnded(last, kCommandName, t);
  return outcome;
}

CommandResult ActivateDeferredMicrocode(TransportContext& t) {
  return Dispatch(t, ActivateMicrocodeCommand());
}

DownloadOutcome SendStandardDownload(OperationContext& ctx, std::uint8_t mode,
                                     const std::string& file, std::span<const std::uint8_t> image) {
  // An empty file is refused before any command goes out: one line, no "Start".
  if (!image.empty()) ctx.host.LogLine(DownloadLinePrefix(mode, file) + "Start");
  DownloadOutcome outcome = DownloadMicrocodeData(ctx, mode, image);
  outcome.file = file;
  if (outcome.Failed() && outcome.result != DownloadOutcome::Result::nothingToSend &&
      VendorStatusReadable(outcome.result)) {
    outcome.vendor = ReadVendorStatusCodes(ctx.transport);
  }
  ctx.host.LogLine(ClosingLine(outcome));
  return outcome;
}

}  // namespace brisquel
