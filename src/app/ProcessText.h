// What a program was started with, as UTF-8 text on every system. Windows
// hands a plain main() its arguments and environment in the ANSI code page,
// where a file name's other characters arrive as '?' or cannot be converted
// at all; its backend reads the wide ones instead.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brisquel {

// The arguments after the program's name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// An environment variable's value; none when unset.
std::optional<std::string> EnvironmentValue(const char* name);

// The folder the program was started from: the PCI name files are looked for
// beside the program, as the window does.
std::filesystem::path ProgramFolder(const char* argv0);

}  // namespace brisquel
