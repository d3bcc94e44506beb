// The bench bridge's SAT command-block decoder over any block, direction and
// transfer length: it either decodes a command whose data fits the transfer,
// or refuses the block with sense data.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/UsbBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const auto direction = static_cast<brisquel::DataDirection>(data[0] % 3);
  const std::uint32_t transferLength =
      static_cast<std::uint32_t>(data[1] | (data[2] << 8) | (data[3] << 16));
  const std::span<const std::uint8_t> cdb(data + 4, size - 4);

  const brisquel::sim::SatDecode decoded =
      brisquel::sim::DecodeSatCdb(cdb, direction, transferLength);
  if (decoded.command) {
    if (decoded.command->byteCount > transferLength) __builtin_trap();
    if (decoded.command->direction != direction && decoded.command->byteCount != 0) __builtin_trap();
  } else {
    const auto sense = brisquel::sim::RejectionSense(decoded.rejection);
    if (sense.empty() || (sense[0] & 0x7E) != 0x70) __builtin_trap();
  }
  return 0;
}
