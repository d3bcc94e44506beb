#include "sim/Replay.h"

#include <algorithm>

#include "transport/AtaProtocol.h"
#include "transport/RecordingDeviceIo.h"

namespace brisquel::sim {

namespace {

// Ready and seek complete; with DRQ, data wanted or offered.
constexpr std::uint8_t kStatusIdle = kStatusDrdy | kStatusDsc;
constexpr std::uint8_t kStatusData = kStatusDrdy | kStatusDsc | kStatusDrq;

}  // namespace

std::string FirstDifference(const RecordedCommand& recorded, const RecordedCommand& c) {
  const auto differs = [](const char* what, std::string was, std::string now) {
    return std::string(what) + " " + now + ", recorded " + was;
  };
  if (recorded.kind != c.kind) return differs("transport", RecordedKindName(recorded.kind), RecordedKindName(c.kind));
  if (c.kind == RecordedKind::nvme) {
    if (recorded.opcode != c.opcode) {
      return differs("opcode", RecordedHex({&recorded.opcode, 1}), RecordedHex({&c.opcode, 1}));
    }
    if (recorded.nsid != c.nsid) {
      return differs("nsid", std::to_string(recorded.nsid), std::to_string(c.nsid));
    }
    if (recorded.cdw != c.cdw) {
      return differs("command dwords", RecordedDwords(recorded.cdw), RecordedDwords(c.cdw));
    }
  } else if (c.kind == RecordedKind::scsi) {
    if (recorded.cdb != c.cdb) return differs("command block", RecordedHex(recorded.cdb), RecordedHex(c.cdb));
  } else {
    const AtaTaskFile& a = recorded.regs;
    const AtaTaskFile& b = c.regs;
    if (a.command != b.command) return differs("command", RecordedHex({&a.command, 1}), RecordedHex({&b.command, 1}));
    if (RecordedRegisters(a) != RecordedRegisters(b)) return differs("registers", RecordedRegisters(a), RecordedRegisters(b));
    if (RecordedPreviousRegisters(a) != RecordedPreviousRegisters(b)) return differs("previous registers", RecordedPreviousRegisters(a), RecordedPreviousRegisters(b));
  }
  if (recorded.direction != c.direction) {
    return differs("direction", RecordedDirectionName(recorded.direction), RecordedDirectionName(c.direction));
  }
  if (recorded.length != c.length) {
    return differs("data length", std::to_string(recorded.length), std::to_string(c.length));
  }
  if (recorded.timeLimit != c.timeLimit) {
    return differs("time limit", std::to_string(recorded.timeLimit), std::to_string(c.timeLimit));
  }
  if (recorded.registersBack != c.registersBack) {
    return differs("registers back", recorded.registersBack ? "yes" : "no", c.registersBack ? "yes" : "no");
  }
  if (recorded.lba48 != c.lba48) return differs("lba48", recorded.lba48 ? "yes" : "no", c.lba48 ? "yes" : "no");
  if (recorded.dataHash != c.dataHash) return "the data sent differs from the recorded data";
  return {};
}

const RecordedCommand& Replayer::Next(const RecordedCommand& sent) {
  const std::string number = "command " + std::to_string(next_ + 1);
  if (next_ >= commands_.size()) {
    throw ReplayMismatch("the run differs from the recording: " + number +
                         " goes out, and the recording holds " + std::to_string(commands_.size()));
  }
  const RecordedCommand& recorded = commands_[next_];
  if (const std::string difference = FirstDifference(recorded, sent); !difference.empty()) {
    throw ReplayMismatch("the run differs from the recording at " + number + ": " + difference);
  }
  ++next_;
  return recorded;
}

const RecordedCommand* Replayer::Upcoming() const {
  return next_ < commands_.size() ? &commands_[next_] : nullptr;
}

void Replayer::Differs(const std::string& what) const {
  throw ReplayMismatch("the run differs from the recording at command " + std::to_string(next_) +
                       ": " + what);
}

namespace {

void DataIn(const RecordedCommand& c, DataDirection direction, std::span<std::uint8_t> data) {
  if (direction != DataDirection::in) return;
  const std::size_t n = std::min(c.data.size(), data.size());
  std::copy_n(c.data.begin(), n, data.begin());
  std::fill(data.begin() + static_cast<std::ptrdiff_t>(n), data.end(), std::uint8_t{0});
}

}  // namespace

AtaAnswer ReplayedAnswer(Replayer& replayer, const AtaRequest& request) {
  const RecordedCommand& c = replayer.Next(RecordedRequest(request));
  if (!c.delivered) return RefusedAnswer<AtaAnswer>(c.systemError);
  DataIn(c, request.direction, request.data);
  AtaAnswer answer;
  answer.returned = c.returned;
  answer.registersReturned = c.registersReturned;
  answer.bytesMoved = c.moved;
  return answer;
}

ScsiAnswer ReplayedAnswer(Replayer& replayer, const ScsiRequest& request) {
  const RecordedCommand& c = replayer.Next(RecordedRequest(request));
  if (!c.delivered) return RefusedAnswer<ScsiAnswer>(c.systemError);
  DataIn(c, request.direction, request.data);
  ScsiAnswer answer;
  answer.scsiStatus = c.scsiStatus;
  answer.sense = c.sense;
  answer.bytesMoved = c.moved;
  return answer;
}

NvmeAdminAnswer ReplayedAnswer(Replayer& replayer, const NvmeAdminRequest& request) {
  const RecordedCommand& c = replayer.Next(RecordedRequest(request));
  if (!c.delivered) return RefusedAnswer<NvmeAdminAnswer>(c.systemError);
  DataIn(c, request.direction, request.data);
  NvmeAdminAnswer answer;
  answer.status = NvmeStatus::FromField(c.nvmeStatus);
  answer.result = c.nvmeResult;
  answer.bytesMoved = c.moved;
  return answer;
}

bool ReplayChannel::Addressed() const {
  return ((current_[pioport::kDevice] & kDeviceDev) != 0) == device1_;
}

void ReplayChannel::StartCommand(std::uint8_t command) {
  RecordedCommand sent;
  sent.kind = RecordedKind::pio;
  AtaTaskFile& r = sent.regs;
  r = {current_[1], current_[2], current_[3], current_[4], current_[5], current_[6], command};
  // A 48-bit command writes registers 1-5 twice each, the previous byte first.
  sent.lba48 = writes_[2] >= 2 && writes_[3] >= 2;
  if (sent.lba48) {
    r.featuresPrev = previous_[1];
    r.countPrev = previous_[2];
    r.lbaLowPrev = previous_[3];
    r.lbaMidPrev = previous_[4];
    r.lbaHighPrev = previous_[5];
  }
  for (unsigned& n : writes_) n = 0;
  // Which way data goes, how much and what it is show only in the data phase.
  if (const RecordedCommand* upcoming = replayer_->Upcoming()) {
    sent.direction = upcoming->direction;
    sent.length = upcoming->length;
    sent.dataHash = upcoming->dataHash;
  }
  command_ = &replayer_->Next(sent);
  position_ = 0;
  written_.clear();
}

void ReplayChannel::DataWritten() {
  const RecordedCommand& c = *command_;
  if (written_.size() < c.moved || written_.size() != c.length) return;
  if (Fnv1a64(written_) != c.dataHash) replayer_->Differs("the data sent differs from the recorded data");
}

std::uint8_t ReplayChannel::ReadByte(std::uint8_t offset) {
  if (!Addressed() || offset > 7) return 0xFF;
  if (offset == 0) return static_cast<std::uint8_t>(ReadWord(0));
  const bool dataLeft = command_ && command_->direction != DataDirection::none &&
                        position_ < command_->moved;
  switch (offset) {
    case pioport::kCommand:
      if (!command_) return kStatusIdle;
      return dataLeft ? kStatusData : command_->returned.command;
    case pioport::kFeatures:
      return command_ ? command_->returned.features : 0;
    case pioport::kCount:
      if (command_ && command_->count && !dataLeft) return *command_->count;
      break;
    default:
      break;
  }
  return current_[offset];
}

void ReplayChannel::WriteByte(std::uint8_t offset, std::uint8_t value) {
  if (offset == 0) {
    WriteWord(0, value);
    return;
  }
  if (offset > 7) return;
  // Both positions see the device register; the other registers reach only
  // the addressed drive, and no drive sits at the other position.
  if (offset != pioport::kDevice && !Addressed()) return;
  if (offset == pioport::kCommand) {
    StartCommand(value);
    return;
  }
  previous_[offset] = current_[offset];
  current_[offset] = value;
  ++writes_[offset];
}

std::uint16_t ReplayChannel::ReadWord(std::uint8_t offset) {
  if (!Addressed() || offset > 7) return 0xFFFF;
  if (offset != 0) return static_cast<std::uint16_t>(0xFF00 | ReadByte(offset));
  if (!command_ || command_->direction != DataDirection::in || position_ >= command_->moved) {
    return 0xFFFF;
  }
  const auto at = [&](std::uint32_t i) -> std::uint16_t {
    return i < command_->data.size() ? command_->data[i] : 0;
  };
  const std::uint16_t word = static_cast<std::uint16_t>(at(position_) | at(position_ + 1) << 8);
  position_ += 2;
  return word;
}

void ReplayChannel::WriteWord(std::uint8_t offset, std::uint16_t value) {
  if (offset != 0) {
    WriteByte(offset, static_cast<std::uint8_t>(value));
    return;
  }
  if (!Addressed() || !command_ || command_->direction != DataDirection::out ||
      position_ >= command_->moved) {
    return;
  }
  written_.push_back(static_cast<std::uint8_t>(value));
  written_.push_back(static_cast<std::uint8_t>(value >> 8));
  position_ += 2;
  DataWritten();
}

}  // namespace brisquel::sim
