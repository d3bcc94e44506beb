// The download progress bar on stderr: sectors sent of sectors to send. Drawn
// on one line that each redraw overwrites; log lines printed meanwhile first
// clear it and get it back underneath.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace brisquel::cli {

// "[#########...........]  1234/5678 sectors  21%", width cells of bar.
std::string RenderProgress(std::uint64_t sent, std::uint64_t total, int width);

class ProgressBar {
 public:
  // Draws nothing unless enabled (stderr is a terminal).
  ProgressBar(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

  void Update(std::uint64_t sent, std::uint64_t total);
  // Takes the bar off its line, e.g. before a log line is printed.
  void Hide();
  // Draws the last state again after Hide.
  void Show();
  // Leaves the final state on its own line.
  void Finish();

 private:
  void Draw();

  std::ostream& out_;
  bool enabled_;
  bool started_ = false;
  bool shown_ = false;
  std::uint64_t sent_ = 0;
  std::uint64_t total_ = 0;
  std::size_t drawnWidth_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace brisquel::cli
