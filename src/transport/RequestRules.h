// A rule every request follows, whatever its transport: a command whose data
// would reach past the end of its buffer is not sent, and the log says so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/AtaTypes.h"
#include "transport/TransportState.h"

namespace brisquel {

// True when `needed` bytes fit in a buffer of `available` bytes; otherwise
// writes one log line naming the command and returns false.
bool DataFits(TransportContext& t, std::uint8_t command, std::size_t needed, std::size_t available);

}  // namespace brisquel
