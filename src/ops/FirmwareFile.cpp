#include "ops/FirmwareFile.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <new>

#include "transport/AtaTypes.h"
#include "transport/RegularFile.h"
#include "transport/Utf8Path.h"

namespace brisquel {

FirmwareFile LoadFirmwareFile(const std::string& path, std::uintmax_t maxBytes) {
  FirmwareFile file;
  const std::filesystem::path p = PathFromUtf8(path);
  // Anything but a regular file (a directory, a device) has no size to trust.
  const RegularFileCheck check = CheckRegularFile(p);
  if (!check.problem.empty()) {
    file.problem = check.problem;
    return file;
  }
  file.size = check.size;
  if (file.size > maxBytes) {
    file.outcome = FirmwareFile::Outcome::tooLarge;
    return file;
  }
  try {
    errno = 0;
    std::ifstream in(p, std::ios::binary);
    if (!in) {
      file.problem = OpenProblem(errno);
      return file;
    }
    file.image.resize(static_cast<std::size_t>(file.size));
    in.read(reinterpret_cast<char*>(file.image.data()),
            static_cast<std::streamsize>(file.image.size()));
    // A file that changed size since it was measured is not the file chosen.
    if (in.gcount() != static_cast<std::streamsize>(file.image.size()) ||
        in.peek() != std::ifstream::traits_type::eof()) {
      file.image.clear();
      file.problem = "changed while it was read";
      return file;
    }
  } catch (const std::bad_alloc&) {
    file.image.clear();
    file.problem = "is too large to hold in memory";
    return file;
  }
  file.outcome = FirmwareFile::Outcome::loaded;
  return file;
}

std::size_t StageSectors(std::span<std::uint8_t> buffer, std::span<const std::uint8_t> image,
                         std::size_t position, std::uint32_t sectors) {
  const std::size_t size = std::size_t{sectors} * kSectorSize;
  const auto rest = image.subspan(std::min(position, image.size()));
  const std::size_t bytes = std::min(size, rest.size());
  const auto staged = std::copy_n(rest.begin(), bytes, buffer.begin());
  std::fill_n(staged, size - bytes, std::uint8_t{0});
  return bytes;
}

std::string FileNameOf(const std::string& path) {
  return Utf8Of(PathFromUtf8(path).filename());
}

}  // namespace brisquel
