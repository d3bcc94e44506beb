// How the image of a segmented download (modes 03 and 0E) is cut.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brisquel {

// The most blocks one segment carries unless the user or the drive says otherwise.
inline constexpr std::uint32_t kDlmcSegmentBlocks = 64;

struct SegmentPlan {
  std::uint32_t largest = kDlmcSegmentBlocks;  // blocks in the largest segment
  bool even = false;                           // sizes differ by at most one block
  std::string why;                             // how the size was chosen, in words
  // Why no split fits the drive's stated limits; the plain split of
  // `largest` goes out only when the user sends anyway.
  std::optional<std::string> refusal;
};

// The size of the segment that starts `sent` blocks into an image of `total`.
std::uint32_t SegmentAt(const SegmentPlan& plan, std::uint32_t total, std::uint32_t sent);

}  // namespace brisquel
