#include "app/win/PlacementFile.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/windows/WideText.h"

namespace brisquel::win {

using winpt::Utf8;
using winpt::Wide;

std::optional<WindowPlacementValues> ReadPlacementFile(const std::string& file,
                                                       ScreenSize screen) {
  if (file.empty()) return std::nullopt;
  // The section as the profile functions find it, as INI text for the shared reader.
  std::vector<wchar_t> entries(32768, L'\0');
  const DWORD n = GetPrivateProfileSectionW(Wide(kPlacementSection).c_str(), entries.data(),
                                            static_cast<DWORD>(entries.size()),
                                            Wide(file).c_str());
  std::string text = "[";
  text.append(kPlacementSection).append("]\r\n");
  for (const wchar_t* entry = entries.data(); entry < entries.data() + n && *entry;
       entry += std::char_traits<wchar_t>::length(entry) + 1) {
    text.append(Utf8(entry)).append("\r\n");
  }
  return ReadPlacement(text, screen);
}

void WritePlacementFile(const std::string& file, const WindowPlacementValues& values,
                        ScreenSize screen) {
  if (file.empty()) return;
  const std::optional<std::string> text = WritePlacement("", values, screen);
  if (!text) return;
  // Each "key=value" line of the section, written through the profile functions.
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find_first_of("\r\n", at);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(at, end - at);
    at = text->find_first_not_of("\r\n", end);
    if (at == std::string::npos) at = text->size();
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '[' || equals == std::string::npos) continue;
    WritePrivateProfileStringW(Wide(kPlacementSection).c_str(),
                               Wide(line.substr(0, equals)).c_str(),
                               Wide(line.substr(equals + 1)).c_str(), Wide(file).c_str());
  }
}

}  // namespace brisquel::win
