// Loading a firmware file whole before anything is sent to the drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisquel {

struct FirmwareFile {
  enum class Outcome { loaded, unreadable, tooLarge };
  Outcome outcome = Outcome::unreadable;
  std::vector<std::uint8_t> image;  // the whole file when loaded
  std::uintmax_t size = 0;          // known for loaded and tooLarge
};

// Loads a regular file of at most maxBytes bytes. A larger one is not read.
FirmwareFile LoadFirmwareFile(const std::string& path, std::uintmax_t maxBytes);

// The file name without its directory, as the log shows it.
std::string FileNameOf(const std::string& path);

}  // namespace brisquel
