#include <gtest/gtest.h>

#include "text/IniLexer.h"
#include "text/Trim.h"

namespace brisquel {
namespace {

TEST(Trim, CutsOnlyTheGivenCharactersAndOnlyAtTheEnds) {
  EXPECT_EQ(Trim(" \t a b \t "), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\na\n"), "\na\n");
  EXPECT_EQ(Trim("\na \n", " \n"), "a");
  EXPECT_EQ(TrimEnd("  a  "), "  a");
  EXPECT_EQ(TrimEnd(std::string_view("AB1 \0\0", 6), std::string_view(" \0", 2)), "AB1");
}

TEST(IniLexer, SplitsAtEachLineEndAndKeepsIt) {
  struct Case {
    std::string_view text;
    bool loneCr;
    std::vector<std::pair<std::string_view, std::string_view>> lines;
  };
  for (const Case& c : {
           Case{"", true, {}},
           Case{"a\r\nb\nc\rd", true, {{"a", "\r\n"}, {"b", "\n"}, {"c", "\r"}, {"d", ""}}},
           Case{"a\r\nb\nc\rd", false, {{"a", "\r\n"}, {"b", "\n"}, {"c\rd", ""}}},
           Case{"a\r\r\n\n", false, {{"a\r", "\r\n"}, {"", "\n"}}},
           Case{"\r\n", false, {{"", "\r\n"}}},
       }) {
    const std::vector<IniTextLine> lines = SplitIniLines(c.text, c.loneCr);
    ASSERT_EQ(lines.size(), c.lines.size()) << c.text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].body, c.lines[i].first) << c.text << " line " << i;
      EXPECT_EQ(lines[i].end, c.lines[i].second) << c.text << " line " << i;
    }
  }
}

TEST(IniLexer, TellsEachKindOfLineAndItsParts) {
  using K = IniLineKind;
  struct Case {
    std::string_view line;
    K kind;
    std::string_view name, after, key, value;
    bool closed;
  };
  for (const Case& c : {
           Case{" \t", K::blank, "", "", "", "", false},
           Case{"  ; note", K::comment, "", "", "", "", false},
           Case{"# note", K::comment, "", "", "", "", false},
           Case{" [ TfmMain ] ", K::section, "TfmMain", "", "", "", true},
           Case{"[a]x] y", K::section, "a", "x] y", "", "", true},
           Case{"[a=1", K::section, "a=1", "", "", "", false},
           Case{" Key = \"v = 1\" ", K::entry, "", "", "Key", "v = 1", false},
           Case{"=\"", K::entry, "", "", "", "\"", false},
           Case{"k=\"\"", K::entry, "", "", "k", "", false},
           Case{"no equals", K::other, "", "", "", "", false},
       }) {
    const IniLine lexed = LexIniLine(c.line, "#;");
    EXPECT_EQ(lexed.kind, c.kind) << c.line;
    EXPECT_EQ(lexed.name, c.name) << c.line;
    EXPECT_EQ(lexed.closed, c.closed) << c.line;
    EXPECT_EQ(lexed.after, c.after) << c.line;
    EXPECT_EQ(lexed.key, c.key) << c.line;
    EXPECT_EQ(lexed.value, c.value) << c.line;
  }
  // The comment marks are the caller's: without '#', "#k=v" is a key.
  EXPECT_EQ(LexIniLine("#k=v", ";").key, "#k");
}

}  // namespace
}  // namespace brisquel
