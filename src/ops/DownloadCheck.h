// After a download: what the drive's count register said of the segments,
// and the firmware revision it reports once it answers again.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "ops/DownloadOutcome.h"
#include "ops/Identify.h"
#include "transport/TransportState.h"

namespace brisquel {

// The time a drive may take to come back from a reset into new firmware.
inline constexpr std::chrono::milliseconds kReidentifyTimeLimit{10'000};
inline constexpr std::chrono::milliseconds kReidentifyPause{500};
inline constexpr std::chrono::milliseconds kReidentifySlice{100};

// Time as the retries see it; the bench's passes without sleeping.
class RetryClock {
 public:
  virtual ~RetryClock() = default;
  virtual std::chrono::milliseconds Now() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The machine's steady clock and a real sleep.
class SystemRetryClock : public RetryClock {
 public:
  std::chrono::milliseconds Now() override;
  void Sleep(std::chrono::milliseconds duration) override;
};

// IDENTIFY again, pausing between tries, until the drive answers with a
// revision or the time limit has passed (none then). Break ends it too.
std::optional<IdentifyOutcome> IdentifyAfterDownload(TransportContext& t, RetryClock& clock);

// Whether a completed download should have changed the running revision:
// modes 01, 07 and 0F, and 03 when the drive answered 02h (applied). Mode 0E
// only stores the image; the vendor download says nothing of when it applies.
bool RevisionChangeDue(const DownloadOutcome& outcome);

// What the count register said of a segmented download (modes 03, 0E), in
// words; empty for other modes and for downloads that did not complete.
std::string SegmentAnswerReport(const DownloadOutcome& outcome);
// Whether that report is a warning: an early 02h/03h, or 01h (or another
// value) after the last segment.
bool SegmentAnswerIsSuspect(const DownloadOutcome& outcome);

}  // namespace brisquel
