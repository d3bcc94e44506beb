#include <gtest/gtest.h>

#include <string>

#include "text/Escape.h"

namespace brisquel {
namespace {

TEST(Escape, EveryByteRoundTripsAndOnlyPrintableAsciiStaysAsItIs) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string escaped = EscapeText(all);
  for (const char c : escaped) EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int(c);
  EXPECT_EQ(UnescapeText(escaped), all);
  EXPECT_EQ(EscapeText("AB 1.0"), "AB 1.0");
  EXPECT_EQ(EscapeText("a\\b\n]"), "a\\x5Cb\\x0A]");
}

TEST(Escape, MalformedEscapesAreRefused) {
  for (const char* text : {"\\", "\\x", "\\x4", "\\xG0", "\\y41", "ab\\x4"}) {
    EXPECT_EQ(UnescapeText(text), std::nullopt) << text;
  }
  EXPECT_EQ(UnescapeText("\\x41\\x6a"), "Aj");
}

}  // namespace
}  // namespace brisquel
