#include "transport/RegularFile.h"

#include <cerrno>
#include <fstream>
#include <new>
#include <system_error>

namespace brisquel {

namespace {

const char* KindOf(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::directory:
      return "is a directory";
    case file_type::fifo:
      return "is a FIFO, not a regular file";
    case file_type::block:
    case file_type::character:
      return "is a device, not a regular file";
    case file_type::socket:
      return "is a socket, not a regular file";
    default:
      return "is not a regular file";
  }
}

}  // namespace

RegularFileCheck CheckRegularFile(const std::filesystem::path& path) {
  RegularFileCheck check;
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) {
    check.problem = ec.message();
  } else if (!std::filesystem::is_regular_file(status)) {
    check.problem = KindOf(status.type());
  } else {
    check.size = std::filesystem::file_size(path, ec);
    if (ec) check.problem = ec.message();
  }
  return check;
}

std::string OpenProblem(int error) {
  return error ? std::generic_category().message(error) : "cannot be opened";
}

RegularFileRead ReadRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
  RegularFileRead read;
  const RegularFileCheck check = CheckRegularFile(path);
  if (!check.problem.empty()) {
    read.problem = check.problem;
    return read;
  }
  read.size = check.size;
  if (read.size > maxBytes) {
    read.tooLarge = true;
    read.problem = "is larger than " + std::to_string(maxBytes) + " bytes";
    return read;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    read.problem = OpenProblem(errno);
    return read;
  }
  try {
    // One byte more than measured tells a file that grew meanwhile.
    std::string bytes(static_cast<std::size_t>(read.size) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::uintmax_t>(in.gcount()) != read.size) {
      read.problem = "changed while it was read";
      return read;
    }
    bytes.resize(static_cast<std::size_t>(read.size));
    read.bytes = std::move(bytes);
  } catch (const std::bad_alloc&) {
    read.problem = "is too large to hold in memory";
  }
  return read;
}

}  // namespace brisquel
