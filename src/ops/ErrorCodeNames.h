// The drive firmware's symbolic names for the 16-bit result codes of the
// vendor status sector, reproduced letter for letter.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brisquel {

struct ErrorCodeEntry {
  std::uint16_t code;
  std::string_view name;
};

// A whole 256-code page named at once, by the code's upper byte.
struct ErrorCodePage {
  std::uint8_t upperByte;
  std::string_view name;
};

// The name of a code: its single entry, else its page's name, else
// "UNKNOWN ERROR_" and the code as four upper-case hex digits.
std::string ErrorCodeName(std::uint16_t code);

// The tables behind ErrorCodeName: single entries sorted by code, then pages.
std::span<const ErrorCodeEntry> ErrorCodeEntries();
std::span<const ErrorCodePage> ErrorCodePages();

}  // namespace brisquel
