#include "sim/DriveFirmware.h"

#include <sstream>

#include "text/Escape.h"

namespace brisquel::sim {

std::string DriveFirmware::Save() const {
  // A revision read from a captured IDENTIFY sector may hold any byte.
  std::string text = "active=" + EscapeText(active) + "\npermanent=" + EscapeText(permanent) + "\n";
  if (deferred) text += "deferred=" + EscapeText(*deferred) + "\n";
  return text;
}

std::optional<DriveFirmware> DriveFirmware::Load(const std::string& text) {
  std::optional<std::string> active, permanent, deferred;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    auto equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string key = line.substr(0, equals);
    const std::optional<std::string> unescaped = UnescapeText(line.substr(equals + 1));
    if (!unescaped || unescaped->empty() || unescaped->size() > 8) return std::nullopt;
    if (key == "active") {
      active = *unescaped;
    } else if (key == "permanent") {
      permanent = *unescaped;
    } else if (key == "deferred") {
      deferred = *unescaped;
    } else {
      return std::nullopt;
    }
  }
  if (!active || !permanent) return std::nullopt;
  return DriveFirmware{*active, *permanent, deferred};
}

}  // namespace brisquel::sim
