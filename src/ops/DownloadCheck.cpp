#include "ops/DownloadCheck.h"

#include <cstdio>
#include <thread>

#include "ops/DriveCapabilities.h"
#include "ops/StandardDownload.h"

namespace brisquel {
namespace {

std::string CountText(std::uint8_t count) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", static_cast<unsigned>(count));
  std::string meaning;
  switch (count) {
    case kDlmcMoreExpected:
      meaning = " (more segments expected)";
      break;
    case kDlmcApplied:
      meaning = " (the new microcode is applied)";
      break;
    case kDlmcSavedForActivation:
      meaning = " (saved, waiting for activation)";
      break;
    default:
      meaning = " (no meaning defined)";
      break;
  }
  return text + meaning;
}

bool Segmented(const DownloadOutcome& outcome) {
  return outcome.mode != kVendorDownloadMode && DlmcModeUsesOffsets(outcome.mode);
}

}  // namespace

std::chrono::milliseconds SystemRetryClock::Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

void SystemRetryClock::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::optional<IdentifyOutcome> IdentifyAfterDownload(TransportContext& t, RetryClock& clock) {
  const auto start = clock.Now();
  while (!t.state.BreakFlag) {
    IdentifyOutcome identity = ReadIdentity(t);
    // A drive still starting its new firmware may answer with blank words.
    if (identity.command && !identity.firmware.empty()) return identity;
    if (clock.Now() - start + kReidentifyPause > kReidentifyTimeLimit) break;
    // In short slices, so that the window stays responsive and Break is seen.
    for (auto slept = std::chrono::milliseconds{0}; slept < kReidentifyPause && !t.state.BreakFlag;
         slept += kReidentifySlice) {
      clock.Sleep(kReidentifySlice);
      t.host.PumpMessages();
    }
  }
  return std::nullopt;
}

bool RevisionChangeDue(const DownloadOutcome& outcome) {
  if (!outcome.Completed()) return false;
  switch (outcome.mode) {
    case kDlmcTemporary:
    case kDlmcPermanent:
    case kDlmcActivate:
      return true;
    case kDlmcSegmented:
      // Applied, or not said: where the transport returns no count register
      // the drive is held to the change, so that a USB bridge that answered
      // the segments without passing them on is never read as success.
      return !outcome.countRegister || *outcome.countRegister == kDlmcApplied;
    default:
      return false;
  }
}

std::string SegmentAnswerReport(const DownloadOutcome& outcome) {
  if (!Segmented(outcome) || !outcome.Completed()) return {};
  if (!outcome.countRegister) {
    return "count register after the segments: not reported by this transport";
  }
  std::string text = "count register after the last segment: " + CountText(*outcome.countRegister);
  if (outcome.earlyAnswer) {
    text += "; the segment at block " + std::to_string(outcome.earlyAnswer->offset) +
            ", before the last, already answered " + CountText(outcome.earlyAnswer->count);
  }
  return text;
}

bool SegmentAnswerIsSuspect(const DownloadOutcome& outcome) {
  if (!Segmented(outcome) || !outcome.Completed() || !outcome.countRegister) return false;
  const std::uint8_t expected = outcome.mode == kDlmcDeferred ? kDlmcSavedForActivation : kDlmcApplied;
  // Mode 03 may also leave the image saved for a later activation.
  const bool fine = *outcome.countRegister == expected ||
                    (outcome.mode == kDlmcSegmented && *outcome.countRegister == kDlmcSavedForActivation);
  return !fine || outcome.earlyAnswer.has_value();
}

}  // namespace brisquel
