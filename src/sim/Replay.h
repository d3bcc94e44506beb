// A recording played back as a bench: its one target answers each command as
// recorded. A command that differs from the recording, or one more than it
// holds, ends the run: what the program does has changed, or the recording
// is of another run.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/IdeChannel.h"
#include "transport/NvmeRequest.h"
#include "transport/PassThroughRequest.h"
#include "transport/Recording.h"

namespace brisquel::sim {

class ReplayMismatch : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first field of `command` (out part only) that differs from `recorded`,
// named for a person: "command EC, recorded 92"; empty when they agree.
std::string FirstDifference(const RecordedCommand& recorded, const RecordedCommand& command);

// The recorded commands in order, each handed out once.
class Replayer {
 public:
  explicit Replayer(std::vector<RecordedCommand> commands) : commands_(std::move(commands)) {}
  // The recorded command `sent` stands for; throws ReplayMismatch naming the
  // first difference.
  const RecordedCommand& Next(const RecordedCommand& sent);
  // The command that comes next, if any, for what only its data shows.
  const RecordedCommand* Upcoming() const;
  // Throws ReplayMismatch for the command last handed out.
  [[noreturn]] void Differs(const std::string& what) const;

 private:
  std::vector<RecordedCommand> commands_;
  std::size_t next_ = 0;
};

// The pass-through requests to a recorded drive, answered as recorded: data
// that came back lands in the request's span, the rest of it zeros.
AtaAnswer ReplayedAnswer(Replayer& replayer, const AtaRequest& request);
ScsiAnswer ReplayedAnswer(Replayer& replayer, const ScsiRequest& request);
NvmeAdminAnswer ReplayedAnswer(Replayer& replayer, const NvmeAdminRequest& request);

// A PIO channel whose drive is the recording: registers latch as on a drive,
// a write of the command register takes the next recorded command, the data
// phase hands out (or takes in) what was recorded, and the status, error and
// count registers then read as recorded.
class ReplayChannel : public IdeChannel {
 public:
  ReplayChannel(std::shared_ptr<Replayer> replayer, bool device1)
      : replayer_(std::move(replayer)), device1_(device1) {}

  std::uint8_t ReadByte(std::uint8_t offset) override;
  void WriteByte(std::uint8_t offset, std::uint8_t value) override;
  std::uint16_t ReadWord(std::uint8_t offset) override;
  void WriteWord(std::uint8_t offset, std::uint16_t value) override;

 private:
  bool Addressed() const;
  void StartCommand(std::uint8_t command);
  void DataWritten();

  std::shared_ptr<Replayer> replayer_;
  bool device1_;
  std::uint8_t current_[8]{0, 0, 0, 0, 0, 0, 0xA0, 0};
  std::uint8_t previous_[8]{};
  unsigned writes_[8]{};  // writes since the last command, by register
  const RecordedCommand* command_ = nullptr;
  std::uint32_t position_ = 0;  // data bytes moved in this command
  std::vector<std::uint8_t> written_;
};

}  // namespace brisquel::sim
