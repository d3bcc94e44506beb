// The program keeps its text, paths included, as UTF-8; Windows' own calls
// take and give UTF-16. Every crossing goes through these.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisquel::winpt {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// This program's own file, whatever characters its folder holds.
std::filesystem::path ProgramPath();

// An environment variable, read through the wide environment; none when unset.
std::optional<std::string> EnvironmentValue(const wchar_t* name);

// The process's command line split as the C runtime splits it, in UTF-8, the
// program's name first.
std::vector<std::string> CommandLineWords();

}  // namespace brisquel::winpt
