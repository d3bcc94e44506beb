#include "ui/WindowPlacement.h"

#include <charconv>

#include "text/IniLexer.h"
#include "text/Trim.h"

namespace brisquel {
namespace {

// Coordinates outside this range are not a window on any screen; refusing them
// also keeps every later width/height computation far from overflow.
constexpr std::int32_t kCoordinateLimit = 32767;

constexpr char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view body) {
  const IniLine line = LexIniLine(body, ";");
  if (line.kind != IniLineKind::section || !line.closed) return std::nullopt;
  return line.name;
}

struct KeyValue {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyValue> ParseKeyLine(std::string_view body) {
  const IniLine line = LexIniLine(body, ";");
  if (line.kind != IniLineKind::entry) return std::nullopt;
  return KeyValue{line.key, line.value};
}

// Index range [first, last) of the lines of the first section of this name,
// header excluded; none when the section is missing.
struct SectionSpan {
  std::size_t header;
  std::size_t first;
  std::size_t last;
};

std::optional<SectionSpan> FindSection(const std::vector<IniTextLine>& lines,
                                       std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].body);
    if (!name || !SameText(*name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && !SectionName(lines[j].body)) ++j;
    return SectionSpan{i, i + 1, j};
  }
  return std::nullopt;
}

std::string ScreenKey(std::string_view key, ScreenSize screen) {
  return std::string(key) + "(" + std::to_string(screen.width) + "x" +
         std::to_string(screen.height) + ")";
}

std::optional<std::int32_t> ParseInt(std::string_view text) {
  text = Trim(text);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::string PlacementFileName(std::string_view programPath) {
  std::size_t slash = programPath.find_last_of("/\\");
  std::string_view name =
      slash == std::string_view::npos ? programPath : programPath.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name) + ".INI";
}

std::optional<std::string> IniReadValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  if (text.size() > kMaxPlacementFileSize) return std::nullopt;
  const std::vector<IniTextLine> lines = SplitIniLines(text, true);
  auto span = FindSection(lines, section);
  if (!span) return std::nullopt;
  for (std::size_t i = span->first; i < span->last; ++i) {
    auto kv = ParseKeyLine(lines[i].body);
    if (kv && SameText(kv->key, key)) return std::string(kv->value);
  }
  return std::nullopt;
}

std::optional<std::string> IniWriteValues(
    std::string_view text, std::string_view section,
    const std::vector<std::pair<std::string, std::string>>& values) {
  if (text.size() > kMaxPlacementFileSize) return std::nullopt;
  const std::vector<IniTextLine> lines = SplitIniLines(text, true);
  // New lines follow the file's own line ends.
  std::string_view newline = "\n";
  for (const IniTextLine& line : lines) {
    if (!line.end.empty()) {
      newline = line.end;
      break;
    }
  }

  std::vector<std::string> replaced(lines.size());
  std::vector<bool> isReplaced(lines.size(), false);
  std::string missing;
  auto span = FindSection(lines, section);
  for (const auto& [key, value] : values) {
    bool found = false;
    if (span) {
      for (std::size_t i = span->first; i < span->last && !found; ++i) {
        auto kv = ParseKeyLine(lines[i].body);
        if (kv && SameText(kv->key, key)) {
          replaced[i] = key + "=" + value;
          isReplaced[i] = true;
          found = true;
        }
      }
    }
    if (!found) missing += key + "=" + value + std::string(newline);
  }

  // Missing keys go after the section's last non-blank line.
  std::size_t insertAfter = lines.size();
  if (span) {
    insertAfter = span->header;
    for (std::size_t i = span->first; i < span->last; ++i) {
      if (!Trim(lines[i].body).empty()) insertAfter = i;
    }
  }

  std::string out;
  out.reserve(text.size() + missing.size() + section.size() + 8);
  auto appendLine = [&](std::size_t i) {
    out += isReplaced[i] ? std::string_view(replaced[i]) : lines[i].body;
    if (lines[i].end.empty() && (i == insertAfter && !missing.empty())) {
      out += newline;  // a last line without a line end gets one before the additions
    } else {
      out += lines[i].end;
    }
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    appendLine(i);
    if (span && i == insertAfter) out += missing;
  }
  if (!span) {
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += newline;
    out += '[';
    out += section;
    out += ']';
    out += newline;
    out += missing;
  }
  return out;
}

std::optional<PlacementRect> ParsePlacementRect(std::string_view text) {
  PlacementRect rect{};
  for (std::size_t i = 0; i < rect.size(); ++i) {
    std::size_t comma = i + 1 < rect.size() ? text.find(',') : text.size();
    if (comma == std::string_view::npos) return std::nullopt;
    auto value = ParseInt(text.substr(0, comma));
    if (!value) return std::nullopt;
    rect[i] = *value;
    text.remove_prefix(comma == text.size() ? comma : comma + 1);
  }
  return rect;
}

std::string FormatPlacementRect(const PlacementRect& r) {
  return std::to_string(r[0]) + "," + std::to_string(r[1]) + "," + std::to_string(r[2]) + "," +
         std::to_string(r[3]);
}

std::optional<WindowPlacementValues> ReadPlacement(std::string_view text, ScreenSize screen,
                                                   std::string_view section) {
  if (text.size() > kMaxPlacementFileSize) return std::nullopt;
  auto read = [&](std::string_view key) { return IniReadValue(text, section, key); };
  auto readInt = [&](std::string_view key) -> std::optional<std::int32_t> {
    auto v = read(key);
    return v ? ParseInt(*v) : std::nullopt;
  };
  auto readRect = [&](std::string_view key) -> std::optional<PlacementRect> {
    auto v = read(ScreenKey(key, screen));
    if (!v) v = read(key);
    return v ? ParsePlacementRect(*v) : std::nullopt;
  };

  if (auto version = read("FormVersion"); version && ParseInt(*version) != 0) return std::nullopt;
  auto norm = readRect("NormPos");
  if (!norm) return std::nullopt;
  for (std::int32_t c : *norm) {
    if (c < -kCoordinateLimit || c > kCoordinateLimit) return std::nullopt;
  }
  if ((*norm)[2] <= (*norm)[0] || (*norm)[3] <= (*norm)[1]) return std::nullopt;

  WindowPlacementValues values;
  values.normPos = *norm;
  values.flags = readInt("Flags").value_or(0);
  values.showCmd = readInt("ShowCmd").value_or(kShowNormal);
  values.pixelsPerInch = readInt("PixelsPerInch").value_or(96);
  values.minMaxPos = readRect("MinMaxPos").value_or(PlacementRect{-1, -1, -1, -1});
  values.visible = readInt("Visible").value_or(1) != 0;
  return values;
}

std::optional<std::string> WritePlacement(std::string_view text, const WindowPlacementValues& v,
                                          ScreenSize screen, std::string_view section) {
  const std::string minMax = FormatPlacementRect(v.minMaxPos);
  const std::string norm = FormatPlacementRect(v.normPos);
  return IniWriteValues(text, section,
                        {
                            {"FormVersion", "0"},
                            {"Flags", std::to_string(v.flags)},
                            {"ShowCmd", std::to_string(v.showCmd)},
                            {"PixelsPerInch", std::to_string(v.pixelsPerInch)},
                            {"MinMaxPos", minMax},
                            {ScreenKey("MinMaxPos", screen), minMax},
                            {"NormPos", norm},
                            {ScreenKey("NormPos", screen), norm},
                            {"Visible", v.visible ? "1" : "0"},
                        });
}

}  // namespace brisquel
