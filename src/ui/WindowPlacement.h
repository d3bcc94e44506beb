// The window placement file: an INI file named after the program, one section
// per window class, holding the window's position, size and state. QSettings
// cannot write these values the way the file needs them, so this is a small
// reader and writer of its own. Both are pure (text in, values or text out)
// and take any input: nothing is read past the text, sizes are bounded, and a
// rewrite keeps every other section, key, comment and line ending as it was.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisquel {

// Larger files are neither read nor rewritten.
inline constexpr std::size_t kMaxPlacementFileSize = 1 << 20;

inline constexpr std::string_view kPlacementSection = "TfmMain";

// Windows' SW_* values as they are stored under "ShowCmd".
inline constexpr std::int32_t kShowNormal = 1;
inline constexpr std::int32_t kShowMinimized = 2;
inline constexpr std::int32_t kShowMaximized = 3;

struct ScreenSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// left, top, right, bottom of the window's outer frame in its normal state.
using PlacementRect = std::array<std::int32_t, 4>;

struct WindowPlacementValues {
  std::int32_t flags = 0;
  std::int32_t showCmd = kShowNormal;
  std::int32_t pixelsPerInch = 96;
  PlacementRect minMaxPos{-1, -1, -1, -1};  // minimised x, y, maximised x, y
  PlacementRect normPos{};
  bool visible = true;
};

// "Brisquel.exe" and "/usr/bin/brisquel" both give "brisquel.INI" style names:
// the file name without directory, its extension replaced by ".INI".
std::string PlacementFileName(std::string_view programPath);

// The value of one key, as Windows' profile reader returns it: the first
// section of that name and its first line with that key, both compared without
// regard to case; blanks around key and value and one pair of enclosing
// quotes removed. None when the text is too large or the key is missing.
std::optional<std::string> IniReadValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// The text with each key of `values` set in `section`: an existing line is
// rewritten where it stands, a missing key is added at the end of the section,
// a missing section at the end of the text. None when the text is too large.
std::optional<std::string> IniWriteValues(
    std::string_view text, std::string_view section,
    const std::vector<std::pair<std::string, std::string>>& values);

// "%d,%d,%d,%d"; none for anything else (blanks around the numbers are allowed).
std::optional<PlacementRect> ParsePlacementRect(std::string_view text);
std::string FormatPlacementRect(const PlacementRect& rect);

// The placement of the window class's section, the screen-size keys read
// before the plain ones. None when there is no usable normal position: a
// missing or malformed "NormPos", an empty or oversized rectangle, or a
// "FormVersion" other than 0.
std::optional<WindowPlacementValues> ReadPlacement(std::string_view text, ScreenSize screen,
                                                   std::string_view section = kPlacementSection);

// The text with the placement written into the window class's section.
std::optional<std::string> WritePlacement(std::string_view text,
                                          const WindowPlacementValues& values, ScreenSize screen,
                                          std::string_view section = kPlacementSection);

}  // namespace brisquel
