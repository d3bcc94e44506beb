// Text that came from a drive, kept in a line-based file: every byte outside
// printable ASCII, and the backslash, is written as \xHH, so a control byte or
// a line end in a captured IDENTIFY field cannot break the file's lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brisquel {

std::string EscapeText(std::string_view text);

// The text EscapeText wrote; none for a malformed escape.
std::optional<std::string> UnescapeText(std::string_view text);

}  // namespace brisquel
