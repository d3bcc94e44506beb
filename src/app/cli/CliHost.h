// The operations' host of brisquel-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/cli/CliArgs.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ProgressBar.h"
#include "app/cli/Reporter.h"
#include "ops/DlmcModes.h"
#include "ops/DownloadOutcome.h"
#include "ops/OperationHost.h"

namespace brisquel::cli {

// The operations' host on a terminal: the log goes to the reporter, the file
// dialog answers with the FILE argument, a Ctrl-C is Break at the next pump,
// and the firmware progress draws the bar.
class CliHost : public OperationHost {
 public:
  CliHost(Reporter& reporter, ProgressBar& bar, const CliOptions& options, bool& breakFlag)
      : reporter_(reporter), bar_(bar), options_(options), breakFlag_(breakFlag) {}

  void PumpMessages() override {
    // Every pump after a Ctrl-C is a click on Break: operations clear the
    // flag when they start, and the press must still stop them.
    if (InterruptCount() > 0) breakFlag_ = true;
  }
  bool KeyHeld(Key) override { return false; }
  void LogLine(const std::string& text) override { reporter_.Log(text); }
  std::optional<std::string> OpenFirmwareDialog() override { return options_.file; }
  void SetOperationButtonsEnabled(bool) override {}
  void FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) override {
    const bool vendor = options_.command == Command::dptm;
    bar_.Update(sent, toSend, CountedUnit(vendor ? kVendorDownloadMode : options_.mode.value_or(0)));
  }

 private:
  Reporter& reporter_;
  ProgressBar& bar_;
  const CliOptions& options_;
  bool& breakFlag_;
};

}  // namespace brisquel::cli
