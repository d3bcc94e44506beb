#include "ops/DiskUsers.h"

namespace brisquel {

DiskUse CombinedUse(const std::vector<DiskUse>& uses) {
  DiskUse combined = DiskUse::Free();
  for (const DiskUse& use : uses) {
    if (use.state == DiskUse::State::free) continue;
    if (use.state == DiskUse::State::unknown) {
      if (combined.state == DiskUse::State::free) combined = use;
      continue;
    }
    if (combined.state != DiskUse::State::inUse) {
      combined = use;
      continue;
    }
    combined.what += "; " + use.what;
    if (use.system != RunningSystem::none) combined.system = use.system;
  }
  return combined;
}

}  // namespace brisquel
