// Writes a recording (transport/Recording.h) as the run goes: the target,
// then each command as it goes out and its answer as it comes back, flushed
// line by line so that a run that ends badly still leaves what it sent. PIO
// commands are seen here as an observer; the pass-through requests, with
// everything the system answered, by RecordingDeviceIo.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "transport/CommandObserver.h"
#include "transport/Recording.h"

namespace brisquel {

// A recording is sent to others: the serial number (words 10-19) and the
// unique part of the world wide name (words 108-111 past NAA and OUI, which
// say who made the drive) of IDENTIFY data are replaced, and the checksum in
// word 255 is made right again.
void MaskIdentifyData(std::span<std::uint8_t> sector);

class CommandRecorder : public CommandObserver {
 public:
  // `next` sees every command too (the trace); `keepSerial` leaves serial
  // number and world wide name in IDENTIFY data.
  CommandRecorder(std::ostream& out, bool keepSerial, CommandObserver* next = nullptr)
      : out_(out), keepSerial_(keepSerial), next_(next) {}

  void Target(const RecordedTarget& target);
  // A pass-through command: as it goes out, and with its answer.
  void Out(const RecordedCommand& command);
  void Back(RecordedCommand command);

  void CommandStarting(const DriveTarget& target, const AtaCommand& command) override;
  void CommandEnded(const DriveTarget& target, const AtaCommand& command,
                    const CommandReturn& back) override;

 private:
  void Write(const std::string& text);

  std::ostream& out_;
  bool keepSerial_;
  CommandObserver* next_;
  bool targetWritten_ = false;
  std::string form_;  // the form line last written
  RecordedCommand pio_;
};

}  // namespace brisquel
