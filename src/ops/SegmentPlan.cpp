#include "ops/SegmentPlan.h"

#include <algorithm>
#include <cassert>

namespace brisquel {

std::uint32_t SegmentAt(const SegmentPlan& plan, std::uint32_t total, std::uint32_t sent) {
  // A plan of no blocks would send zero-block segments and never end.
  assert(plan.largest != 0);
  if (sent >= total) return 0;
  if (!plan.even) return std::min(total - sent, plan.largest);
  // Even split: the first (total mod count) segments carry one block more.
  const std::uint32_t count = (total + plan.largest - 1) / plan.largest;
  const std::uint32_t small = total / count;
  const std::uint32_t bigOnes = total % count;
  const std::uint32_t bigBlocks = bigOnes * (small + 1);
  return sent < bigBlocks ? small + 1 : small;
}

}  // namespace brisquel
