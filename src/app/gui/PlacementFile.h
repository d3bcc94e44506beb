// The placement file on disk. On Linux the bare name "brisquel.INI" lives in
// the user's configuration directory: $XDG_CONFIG_HOME, else ~/.config.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brisquel::gui {

// Empty when neither $XDG_CONFIG_HOME nor $HOME is set.
std::filesystem::path DefaultPlacementPath(std::string_view programPath);

// The file's text: "" when there is no file; none when it exists but cannot
// be read or is larger than a placement file can be (then it is not rewritten).
std::optional<std::string> ReadPlacementFile(const std::filesystem::path& path);

// Replaces the file through a temporary beside it, so a failed write leaves
// the old file whole. False when it could not be written.
bool WritePlacementFile(const std::filesystem::path& path, const std::string& text);

}  // namespace brisquel::gui
