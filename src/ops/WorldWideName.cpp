#include "ops/WorldWideName.h"

#include <cstdio>

#include "text/HexDigit.h"
#include "transport/Bytes.h"

namespace brisquel {

std::optional<std::uint64_t> WorldWideNameOf(std::span<const std::uint8_t, kSectorSize> sector) {
  std::uint64_t wwn = 0;
  for (int word = 108; word <= 111; ++word) wwn = wwn << 16 | GetU16(&sector[2 * word]);
  if (wwn == 0 || wwn == UINT64_MAX) return std::nullopt;
  return wwn;
}

std::string WorldWideNameText(std::uint64_t wwn) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(wwn));
  return text;
}

std::optional<std::uint64_t> ParseWorldWideName(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  std::uint64_t wwn = 0;
  int digits = 0;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '-') continue;
    const std::optional<int> value = HexDigitValue(c);
    if (!value) return std::nullopt;
    if (++digits > 16) return std::nullopt;
    wwn = wwn << 4 | static_cast<std::uint64_t>(*value);
  }
  if (digits != 16) return std::nullopt;
  return wwn;
}

}  // namespace brisquel
