#include "transport/Win32Messages.h"

namespace brisquel {

std::string Win32MessageText(std::uint32_t code) {
  struct Text {
    std::uint32_t code;
    const char* text;
  };
  static constexpr Text kTexts[] = {
      {0, "The operation completed successfully."},
      {1, "Incorrect function."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {4, "The system cannot open the file."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {19, "The media is write protected."},
      {21, "The device is not ready."},
      {31, "A device attached to the system is not functioning."},
      {50, "The request is not supported."},
      {87, "The parameter is incorrect."},
      {121, "The semaphore timeout period has expired."},
      {122, "The data area passed to a system call is too small."},
      {170, "The requested resource is in use."},
      {206, "The filename or extension is too long."},
      {259, "No more data is available."},
      {998, "Invalid access to memory location."},
      {1117, "The request could not be performed because of an I/O device error."},
      {1167, "The device is not connected."},
  };
  for (const Text& t : kTexts) {
    if (t.code == code) return std::string(t.text) + "\r\n";
  }
  return {};
}

}  // namespace brisquel
