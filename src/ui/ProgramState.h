// The program's process-wide records, brought together in one object of which
// the program makes exactly one (tests make their own).
#pragma once

#include <array>
#include <cstdint>

#include "discovery/DiscoveryState.h"
#include "transport/TransportState.h"

namespace brisquel {

struct ControllerEntry {
  std::uint32_t basePort = 0;
  std::uint32_t controlPort = 0;
  bool device1 = false;
};

inline constexpr std::size_t kChannelTableSize = 1024;

struct ProgramState : TransportState, DiscoveryState {
  std::array<ControllerEntry, kChannelTableSize> ChannelTable{};
};

}  // namespace brisquel
