// The download progress bar on stderr: blocks (or sectors) sent of those to
// send, drawn on one line that each redraw overwrites.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace brisquel::cli {

class ProgressBar {
 public:
  // Draws nothing unless enabled (stderr is a terminal).
  ProgressBar(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

  // unit: what is counted, as the download's closing line names it.
  void Update(std::uint64_t sent, std::uint64_t total, const char* unit);
  // Leaves the bar's last state on its own line; the next Update starts a new
  // bar. Log lines are printed after it, so the bar sits above the line that
  // closes its transfer.
  void Finish();

 private:
  void Draw();

  std::ostream& out_;
  bool enabled_;
  bool started_ = false;
  bool shown_ = false;
  bool stale_ = false;  // updates came faster than the redraws
  std::uint64_t sent_ = 0;
  std::uint64_t total_ = 0;
  const char* unit_ = "blocks";
  std::size_t drawnWidth_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace brisquel::cli
