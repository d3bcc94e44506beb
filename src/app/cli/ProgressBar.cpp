#include "app/cli/ProgressBar.h"

#include <algorithm>

namespace brisquel::cli {

namespace {
constexpr int kBarWidth = 30;
// Sector-by-sector PIO transfers would otherwise redraw thousands of times.
constexpr auto kRedrawInterval = std::chrono::milliseconds(50);

// "[#########.....................] 1234/5678 blocks  21%"
std::string RenderProgress(std::uint64_t sent, std::uint64_t total, const char* unit, int width) {
  const std::uint64_t shownTotal = std::max(total, sent);
  const std::uint64_t filled =
      shownTotal == 0 ? 0 : sent * static_cast<std::uint64_t>(width) / shownTotal;
  const std::uint64_t percent = shownTotal == 0 ? 0 : sent * 100 / shownTotal;
  std::string text = "[";
  text.append(filled, '#');
  text.append(static_cast<std::size_t>(width) - filled, '.');
  text += "] " + std::to_string(sent) + "/" + std::to_string(shownTotal) + " " + unit + "  " +
          std::to_string(percent) + "%";
  return text;
}

}  // namespace

void ProgressBar::Update(std::uint64_t sent, std::uint64_t total, const char* unit) {
  if (!enabled_) return;
  unit_ = unit;
  sent_ = sent;
  total_ = total;
  started_ = true;
  const auto now = std::chrono::steady_clock::now();
  const bool done = total > 0 && sent >= total;
  if (!shown_ || done || now - lastDraw_ >= kRedrawInterval) {
    lastDraw_ = now;
    Draw();
  } else {
    stale_ = true;
  }
}

void ProgressBar::Draw() {
  // Back to the start of the line and overwrite; blanks cover a longer earlier
  // text. No terminal escapes, so a plain Windows console shows it too.
  const std::string text = RenderProgress(sent_, total_, unit_, kBarWidth);
  out_ << '\r' << text;
  if (text.size() < drawnWidth_) out_ << std::string(drawnWidth_ - text.size(), ' ');
  out_ << std::flush;
  drawnWidth_ = text.size();
  shown_ = true;
  stale_ = false;
}

void ProgressBar::Finish() {
  if (!enabled_ || !started_) return;
  if (!shown_ || stale_) Draw();
  out_ << '\n' << std::flush;
  drawnWidth_ = 0;
  shown_ = false;
  started_ = false;
}

}  // namespace brisquel::cli
