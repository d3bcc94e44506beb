// What the drive operations need from the window beyond the log and the pump.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transport/UiHost.h"

namespace brisquel {

class OperationHost : public UiHost {
 public:
  // The file-open dialog, with no file name filled in (Enter must never send
  // the last file again). None when cancelled.
  virtual std::optional<std::string> OpenFirmwareDialog() = 0;
  // Identify, DLMC and WD DPTM are always enabled or disabled together.
  virtual void SetOperationButtonsEnabled(bool enabled) = 0;
  // A download has sent `sent` of its `toSend` blocks (sectors, for the
  // vendor download).
  virtual void FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) {
    (void)sent;
    (void)toSend;
  }
};

}  // namespace brisquel
