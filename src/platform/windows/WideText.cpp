#include "platform/windows/WideText.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstdlib>

namespace brisquel::winpt {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

std::filesystem::path ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::optional<std::string> EnvironmentValue(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  if (!value) return std::nullopt;
  return Utf8(value);
}

std::vector<std::string> CommandLineWords() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> utf8;
  if (!words) return utf8;
  for (int i = 0; i < count; ++i) utf8.push_back(Utf8(words[i]));
  LocalFree(words);
  return utf8;
}

}  // namespace brisquel::winpt
