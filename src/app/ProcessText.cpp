// Arguments and environment as the C runtime gives them: UTF-8 wherever the
// locale is, as on Linux. Windows has its own (WindowsProcessText.cpp).
#include "app/ProcessText.h"

#include <cstdlib>

#include "transport/Utf8Path.h"

namespace brisquel {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::filesystem::path ProgramFolder(const char* argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path program = PathFromUtf8(argv0 ? argv0 : "");
  if (program.has_parent_path()) return fs::absolute(program, ec).parent_path();
  if (const auto path = EnvironmentValue("PATH")) {
    const std::string& dirs = *path;
    for (std::size_t start = 0; start <= dirs.size();) {
      std::size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      const fs::path dir = PathFromUtf8(dirs.substr(start, end - start));
      if (!dir.empty() && fs::is_regular_file(dir / program, ec)) return fs::absolute(dir, ec);
      start = end + 1;
    }
  }
  return fs::current_path(ec);
}

}  // namespace brisquel
