#include "app/gui/PlacementFile.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "ui/WindowPlacement.h"

namespace brisquel::gui {

std::filesystem::path DefaultPlacementPath(std::string_view programPath) {
  std::filesystem::path dir;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    dir = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return dir / PlacementFileName(programPath);
}

std::optional<std::string> ReadPlacementFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return ec ? std::nullopt : std::optional<std::string>("");
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxPlacementFileSize) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  text.resize(static_cast<std::size_t>(size));
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return std::nullopt;
  return text;
}

bool WritePlacementFile(const std::filesystem::path& path, const std::string& text) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::path temporary = path;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
      out.close();
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (!ec) return true;
  std::error_code ignored;
  std::filesystem::remove(temporary, ignored);
  return false;
}

}  // namespace brisquel::gui
