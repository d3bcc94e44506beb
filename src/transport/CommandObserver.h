// Watches every command at the one point all of them pass (Dispatch): as it
// goes out, and as it comes back. Whoever wants to see the traffic (the
// command line's trace, a test) hangs one on the transport context.
#pragma once

#include <chrono>
#include <cstdint>

#include "transport/AtaTypes.h"
#include "transport/Dispatch.h"
#include "transport/FirmwareInterface.h"
#include "transport/NvmeRequest.h"

namespace brisquel {

struct CommandReturn {
  CommandResult result;
  std::uint8_t status = 0;  // the status and error registers as the transport left them
  std::uint8_t error = 0;
  std::uint32_t bytesMoved = 0;  // data that went to or came from the drive
  std::chrono::nanoseconds elapsed{};
};

class CommandObserver {
 public:
  virtual ~CommandObserver() = default;
  // About to go out on this target.
  virtual void CommandStarting(const DriveTarget& target, const AtaCommand& command) = 0;
  virtual void CommandEnded(const DriveTarget& target, const AtaCommand& command,
                            const CommandReturn& back) = 0;
  // A call of Windows' firmware interface, which carries no registers.
  virtual void FirmwareCallStarting(const DriveTarget&, const FirmwareCall&) {}
  virtual void FirmwareCallEnded(const DriveTarget&, const FirmwareCall&,
                                 const FirmwareCallReturn&) {}
  // An NVMe admin command, which carries no task file.
  virtual void NvmeCommandStarting(const DriveTarget&, const NvmeAdminRequest&) {}
  virtual void NvmeCommandEnded(const DriveTarget&, const NvmeAdminRequest&,
                                const NvmeAdminAnswer&, std::chrono::nanoseconds) {}
};

}  // namespace brisquel
