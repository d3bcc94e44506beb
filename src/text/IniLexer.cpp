#include "text/IniLexer.h"

#include "text/Trim.h"

namespace brisquel {

std::vector<IniTextLine> SplitIniLines(std::string_view text, bool loneCrEndsLine) {
  std::vector<IniTextLine> lines;
  const std::string_view breaks = loneCrEndsLine ? "\r\n" : "\n";
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t stop = text.find_first_of(breaks, pos);
    if (stop == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    std::size_t length = 1;
    if (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') {
      length = 2;
    } else if (text[stop] == '\n' && !loneCrEndsLine && stop > pos && text[stop - 1] == '\r') {
      --stop;
      length = 2;
    }
    lines.push_back({text.substr(pos, stop - pos), text.substr(stop, length)});
    pos = stop + length;
  }
  return lines;
}

IniLine LexIniLine(std::string_view body, std::string_view commentMarks) {
  IniLine line;
  const std::string_view s = Trim(body);
  if (s.empty()) return line;
  if (commentMarks.find(s.front()) != std::string_view::npos) {
    line.kind = IniLineKind::comment;
  } else if (s.front() == '[') {
    line.kind = IniLineKind::section;
    const std::size_t close = s.find(']');
    line.closed = close != std::string_view::npos;
    line.name = Trim(s.substr(1, line.closed ? close - 1 : std::string_view::npos));
    if (line.closed) line.after = Trim(s.substr(close + 1));
  } else if (const std::size_t eq = s.find('='); eq != std::string_view::npos) {
    line.kind = IniLineKind::entry;
    line.key = Trim(s.substr(0, eq));
    line.value = Trim(s.substr(eq + 1));
    if (line.value.size() >= 2 && line.value.front() == '"' && line.value.back() == '"') {
      line.value = line.value.substr(1, line.value.size() - 2);
    }
  } else {
    line.kind = IniLineKind::other;
  }
  return line;
}

}  // namespace brisquel
