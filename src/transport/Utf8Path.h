// Paths travel through the program as UTF-8 text. A plain std::string given
// to std::filesystem::path (or taken back with string()) is read in Windows'
// ANSI code page, which cannot name every file and throws on what it cannot
// convert; these two go through char8_t on every system.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brisquel {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace brisquel
