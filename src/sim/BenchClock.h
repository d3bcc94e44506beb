// Time on the bench passes only by sleeping, and sleeping takes none: the wait
// for a drive after a download runs its course at once.
#pragma once

#include <chrono>

#include "ops/DownloadCheck.h"

namespace brisquel::sim {

class BenchClock : public RetryClock {
 public:
  std::chrono::milliseconds Now() override { return now_; }
  void Sleep(std::chrono::milliseconds duration) override { now_ += duration; }

 private:
  std::chrono::milliseconds now_{0};
};

}  // namespace brisquel::sim
