// Reading a small file that the user named, whole. Only a regular file is
// read: opening a FIFO would wait for a writer that never comes, and a
// directory or a device has no contents to take as the file's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace brisquel {

struct RegularFileRead {
  std::optional<std::string> bytes;  // the whole file, when read
  std::uintmax_t size = 0;           // known once the file was found regular
  bool tooLarge = false;             // larger than asked for: not read
  std::string problem;               // why not read, in the system's words where it has some
};

RegularFileRead ReadRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes);

}  // namespace brisquel
