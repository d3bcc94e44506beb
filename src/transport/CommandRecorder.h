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
// The same for an NVMe controller's Identify data: its serial number (bytes
// 4-23). Nothing else there names the one drive.
void MaskNvmeSerial(std::span<std::uint8_t> data);

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
  // NVMe commands are written by RecordingDeviceIo; the trace still sees them.
  void FirmwareCallStarting(const DriveTarget& target, const FirmwareCall& call) override {
    if (next_) next_->FirmwareCallStarting(target, call);
  }
  void FirmwareCallEnded(const DriveTarget& target, const FirmwareCall& call,
                         const FirmwareCallReturn& back) override {
    if (next_) next_->FirmwareCallEnded(target, call, back);
  }
  void NvmeCommandStarting(const DriveTarget& target, const NvmeAdminRequest& request) override;
  void NvmeCommandEnded(const DriveTarget& target, const NvmeAdminRequest& request,
                        const NvmeAdminAnswer& answer, std::chrono::nanoseconds elapsed) override;

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
