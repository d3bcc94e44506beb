// A drive's world wide name: IDENTIFY words 108-111, the NAA in the top four
// bits and the maker's IEEE OUI after it. It names one drive for its whole
// life, where a line of the drive list changes between boots.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "transport/AtaTypes.h"

namespace brisquel {

// None when the drive gives none (the words all zeros, or all ones).
std::optional<std::uint64_t> WorldWideNameOf(std::span<const std::uint8_t, kSectorSize> sector);

// Sixteen hexadecimal digits, upper case: "5000CCA0A1B2C3D4".
std::string WorldWideNameText(std::uint64_t wwn);

// Sixteen hexadecimal digits in either case, after an optional 0x, with any
// blanks, colons or dashes between them (as other tools print it); none
// otherwise.
std::optional<std::uint64_t> ParseWorldWideName(std::string_view text);

}  // namespace brisquel
