// Loading a firmware file whole before anything is sent to the drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brisquel {

struct FirmwareFile {
  enum class Outcome { loaded, unreadable, tooLarge };
  Outcome outcome = Outcome::unreadable;
  std::vector<std::uint8_t> image;  // the whole file when loaded
  std::uintmax_t size = 0;          // known for loaded and tooLarge
  std::string problem;              // unreadable: why, in the system's words where it has some
};

// Loads a regular file of at most maxBytes bytes. A larger one is not read.
// Paths here are UTF-8 text on every system.
FirmwareFile LoadFirmwareFile(const std::string& path, std::uintmax_t maxBytes);

// Stages the next `sectors` sectors of an image, from byte `position` on, at
// the start of `buffer`: bytes past the image's end go out as zeros, never as
// what the buffer held. `buffer` holds at least `sectors` sectors. Returns the
// bytes taken from the image.
std::size_t StageSectors(std::span<std::uint8_t> buffer, std::span<const std::uint8_t> image,
                         std::size_t position, std::uint32_t sectors);

// The file name without its directory, as the log shows it.
std::string FileNameOf(const std::string& path);

}  // namespace brisquel
