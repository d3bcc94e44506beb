#include "transport/RequestRules.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace brisquel {

bool DataFits(TransportContext& t, std::uint8_t command, std::size_t needed,
              std::size_t available) {
  if (needed <= available) return true;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", command);
  t.host.LogLine("Command " + std::string(hex) + " not sent: its " + std::to_string(needed) +
                 " bytes of data do not fit in a buffer of " + std::to_string(available) +
                 " bytes");
  return false;
}

RequestSizes RequestSizesFor(DataDirection direction, std::uint32_t length, std::size_t headerSize,
                             std::size_t dataOffset) {
  const auto header = static_cast<std::uint32_t>(headerSize);
  const auto data = static_cast<std::uint32_t>(dataOffset);
  switch (direction) {
    case DataDirection::in:
      return {data, data + length};
    case DataDirection::out:
      return {data + length, data};
    case DataDirection::none:
      break;
  }
  return {header, data};
}

void CopyDataOut(std::span<std::uint8_t> block, std::size_t dataOffset, DataDirection direction,
                 std::uint32_t length, std::span<const std::uint8_t> data) {
  if (direction != DataDirection::out) return;
  const std::size_t n = std::min<std::size_t>({length, data.size(), block.size() - dataOffset});
  std::copy_n(data.begin(), n, block.begin() + static_cast<std::ptrdiff_t>(dataOffset));
}

}  // namespace brisquel
