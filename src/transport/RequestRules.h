// Rules every request follows, whatever its transport: a command whose data
// would reach past the end of its buffer is not sent (and the log says so),
// and the sizes a request block is handed over with follow its direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/AtaTypes.h"
#include "transport/TransportState.h"

namespace brisquel {

// True when `needed` bytes fit in a buffer of `available` bytes; otherwise
// writes one log line naming the command and returns false.
bool DataFits(TransportContext& t, std::uint8_t command, std::size_t needed, std::size_t available);

struct RequestSizes {
  std::uint32_t input = 0;
  std::uint32_t output = 0;
};

// A block of a header and, at dataOffset, `length` bytes of data goes in with
// its data for data-out and comes back with it for data-in; with no data it
// goes in as the header and comes back up to the data area.
RequestSizes RequestSizesFor(DataDirection direction, std::uint32_t length, std::size_t headerSize,
                             std::size_t dataOffset);

// For data-out, the caller's first `length` bytes (no more than it has) into
// the block's data area.
void CopyDataOut(std::span<std::uint8_t> block, std::size_t dataOffset, DataDirection direction,
                 std::uint32_t length, std::span<const std::uint8_t> data);

}  // namespace brisquel
