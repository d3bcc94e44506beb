// The recording reader over any text: a recording or a message saying where
// and why it was refused, never both and never neither. A recording written
// out again reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/Recording.h"

namespace {

std::string Written(const brisquel::Recording& r) {
  std::string text = brisquel::RecordingTargetLines(r.target);
  for (const brisquel::RecordedCommand& c : r.commands) {
    text += brisquel::RecordedOutLine(c) + brisquel::RecordedBackLines(c);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const brisquel::RecordingRead read = brisquel::ReadRecording(text);
  if (read.recording.has_value() == !read.error.empty()) __builtin_trap();
  if (!read.recording) return 0;
  const std::string again = Written(*read.recording);
  const brisquel::RecordingRead reread = brisquel::ReadRecording(again);
  if (!reread.recording || Written(*reread.recording) != again) __builtin_trap();
  return 0;
}
