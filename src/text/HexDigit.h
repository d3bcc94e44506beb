// One hexadecimal digit's value, for the parsers of codes, ports and names
// that people type.
#pragma once

#include <optional>

namespace brisquel {

constexpr std::optional<int> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

}  // namespace brisquel
