// The lines of an INI-style file, cut into what they are. The readers above
// decide what each kind means to them (a bench file refuses what a placement
// file skips), so the lexer refuses nothing.
#pragma once

#include <string_view>
#include <vector>

namespace brisquel {

// One line: its text and its line end ("" for a last line without one).
struct IniTextLine {
  std::string_view body;
  std::string_view end;
};

// Lines end at LF or CR LF, and at a lone CR when loneCrEndsLine is set;
// otherwise a lone CR stays in the line's text.
std::vector<IniTextLine> SplitIniLines(std::string_view text, bool loneCrEndsLine);

enum class IniLineKind {
  blank,
  comment,  // the first character after the blanks is one of the comment marks
  section,  // it is '['
  entry,    // it holds '='
  other,
};

struct IniLine {
  IniLineKind kind = IniLineKind::blank;
  // section: the text between '[' and the first ']', trimmed; closed is false
  // when there is no ']', and after holds what follows it, trimmed.
  std::string_view name;
  bool closed = false;
  std::string_view after;
  // entry: the texts before and after the first '=', trimmed; one pair of
  // enclosing double quotes taken off the value.
  std::string_view key;
  std::string_view value;
};

// Blanks are spaces and tabs.
IniLine LexIniLine(std::string_view body, std::string_view commentMarks);

}  // namespace brisquel
