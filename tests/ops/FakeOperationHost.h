// A scripted window for operation tests: dialog answers in order, the log and
// the button states as seen, and Break clicked at a chosen pump.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/OperationHost.h"

namespace brisquel::test {

class FakeOperationHost : public OperationHost {
 public:
  explicit FakeOperationHost(bool& breakFlag) : breakFlag_(breakFlag) {}

  void PumpMessages() override {
    ++pumps;
    if ((breakAtPump != 0 && pumps == breakAtPump) || (breakWhen && breakWhen())) {
      breakFlag_ = true;
    }
  }
  bool KeyHeld(Key) override { return false; }
  void LogLine(const std::string& text) override { log.push_back(text); }
  std::optional<std::string> OpenFirmwareDialog() override {
    ++dialogs;
    if (dialogThrows) throw std::runtime_error("dialog failed");
    if (dialogAnswers.empty()) return std::nullopt;
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  }
  void SetOperationButtonsEnabled(bool enabled) override { buttons.push_back(enabled); }
  void FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) override {
    progress.push_back(sent);
    if (onProgress) onProgress(sent, toSend);
  }

  std::deque<std::optional<std::string>> dialogAnswers;  // none = cancel
  bool dialogThrows = false;
  int dialogs = 0;
  std::vector<std::string> log;
  std::vector<bool> buttons;
  int pumps = 0;
  std::vector<std::uint32_t> progress;  // blocks or sectors sent, as reported
  std::function<void(std::uint32_t sent, std::uint32_t toSend)> onProgress;
  int breakAtPump = 0;              // 1-based; 0 never
  std::function<bool()> breakWhen;  // asked at every pump

 private:
  bool& breakFlag_;
};

}  // namespace brisquel::test
