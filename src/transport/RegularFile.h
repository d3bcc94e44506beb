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

// Whether the path names a regular file, and its size: the first half of the
// read, for a caller that reads the bytes into a buffer of its own.
struct RegularFileCheck {
  std::uintmax_t size = 0;
  std::string problem;  // empty for a regular file of known size
};
RegularFileCheck CheckRegularFile(const std::filesystem::path& path);

// Why an open that failed failed, in the system's words where errno has any.
std::string OpenProblem(int error);

}  // namespace brisquel
