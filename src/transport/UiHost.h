// What the command layers need from whoever shows the program: the message
// pump (so Break can be clicked), the held keys and the log.
#pragma once

#include <cstdint>
#include <string>

namespace brisquel {

enum class Key { shift, ctrl };

class UiHost {
 public:
  virtual ~UiHost() = default;
  // Process all pending window messages once.
  virtual void PumpMessages() = 0;
  // True while the key is held down at this moment.
  virtual bool KeyHeld(Key key) = 0;
  // Append one line to the log and bring it into view; "" appends an empty line.
  virtual void LogLine(const std::string& text) = 0;
  // A PIO data phase has written `written` sectors of its command so far.
  virtual void SectorsWritten(std::uint32_t written) { (void)written; }
};

}  // namespace brisquel
