// Cutting characters off the ends of a text; each caller says which.
#pragma once

#include <string_view>

namespace brisquel {

inline constexpr std::string_view kBlanks = " \t";

constexpr std::string_view TrimEnd(std::string_view text, std::string_view chars = kBlanks) {
  const auto last = text.find_last_not_of(chars);
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

constexpr std::string_view Trim(std::string_view text, std::string_view chars = kBlanks) {
  text = TrimEnd(text, chars);
  const auto first = text.find_first_not_of(chars);
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

}  // namespace brisquel
