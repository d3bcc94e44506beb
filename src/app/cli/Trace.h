// --trace: every command to the drive as it goes out and as it comes back, one
// line each, for a report about a drive or a USB bridge.
#pragma once

#include <ostream>
#include <string>

#include "transport/CommandObserver.h"
#include "transport/DeviceIo.h"

namespace brisquel::cli {

// "-> PIO 01F0.0   EC feat 00 count 01 lba 000000 dev A0, in 512 bytes"; a
// pass-through line ends with the command's time limit (", limit 5 s").
std::string TraceOutLine(const DriveTarget& target, const AtaCommand& command);
// "<- PIO 01F0.0   status 58 error 00: completed, 512 bytes in 0.042 ms";
// systemText names a system error, when there was one.
std::string TraceBackLine(const DriveTarget& target, const CommandReturn& back,
                          const std::string& systemText);

// "-> FW-IF       DOWNLOAD slot 1 offset 0, 65536 bytes, first"; the answer
// "<- FW-IF       done in 0.310 ms" or "<- FW-IF       system error 87 (TEXT) in ...".
std::string TraceFirmwareOutLine(const FirmwareCall& call);
std::string TraceFirmwareBackLine(const FirmwareCallReturn& back, const std::string& systemText);

// "-> NVMe        06 nsid 00000000 cdw10-15 00000001 ..., in 4096 bytes, limit 5 s";
// the answer "<- NVMe        status success, result 00000000, 4096 bytes in ..."
// or the status in words, or "system error N (TEXT)".
std::string TraceNvmeOutLine(const NvmeAdminRequest& request);
std::string TraceNvmeBackLine(const NvmeAdminAnswer& answer, std::chrono::nanoseconds elapsed,
                              const std::string& systemText);

class CommandTrace : public CommandObserver {
 public:
  CommandTrace(std::ostream& out, DeviceIo& io) : out_(out), io_(io) {}
  void CommandStarting(const DriveTarget& target, const AtaCommand& command) override;
  void CommandEnded(const DriveTarget& target, const AtaCommand& command,
                    const CommandReturn& back) override;
  void FirmwareCallStarting(const DriveTarget& target, const FirmwareCall& call) override;
  void FirmwareCallEnded(const DriveTarget& target, const FirmwareCall& call,
                         const FirmwareCallReturn& back) override;
  void NvmeCommandStarting(const DriveTarget& target, const NvmeAdminRequest& request) override;
  void NvmeCommandEnded(const DriveTarget& target, const NvmeAdminRequest& request,
                        const NvmeAdminAnswer& answer, std::chrono::nanoseconds elapsed) override;
  // The system's error of the first line that could not be written; 0 when
  // every line went out.
  int WriteError() const { return writeError_; }

 private:
  void Write(const std::string& line);

  std::ostream& out_;
  int writeError_ = 0;
  DeviceIo& io_;
};

}  // namespace brisquel::cli
