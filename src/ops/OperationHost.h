// What the drive operations need from the window beyond the log and the pump.
#pragma once

#include <optional>
#include <string>

#include "transport/UiHost.h"

namespace brisquel {

class OperationHost : public UiHost {
 public:
  // The file-open dialog. With reset, its file name and filter are cleared
  // first; otherwise it offers the file of its last use. None when cancelled.
  virtual std::optional<std::string> OpenFirmwareDialog(bool reset) = 0;
  // Identify, DLMC and WD DPTM are always enabled or disabled together.
  virtual void SetOperationButtonsEnabled(bool enabled) = 0;
};

}  // namespace brisquel
