// A MainView that records what the window logic does to it, in order, and
// answers its questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/DlmcModes.h"
#include "ui/MainView.h"

namespace brisquel::testing {

class FakeMainView : public MainView {
 public:
  // Every call, in order: "caption:...", "log:...", "list:on", "list:off",
  // "clear", "line:...", "buttons:on", "buttons:off", "message:...",
  // "dialog", "ask:...".
  std::vector<std::string> events;

  std::string caption;
  std::vector<std::string> log;
  std::vector<std::string> list;
  std::vector<std::string> messages;
  bool listEnabled = true;
  bool buttonsEnabled = true;  // the logic must say otherwise at start

  bool ctrlHeld = false;
  bool shiftHeld = false;
  int dlmcIndex = 2;
  std::optional<std::string> dlmcText;  // typed over the item's text
  // Answers of the file dialog, one per opening; an empty queue cancels.
  // A dialog answer of "throw" makes the dialog throw, as a failing toolkit would.
  std::deque<std::optional<std::string>> dialogAnswers;
  // Answers of the yes/no questions, one per question; an empty queue says No,
  // as the box's default button does.
  std::deque<bool> yesNoAnswers;
  std::vector<std::string> questions;
  // Runs at every pump with the pump's number (1, 2, ...).
  std::function<void(int)> onPump;
  int pumps = 0;

  void SetCaption(const std::string& text) override {
    caption = text;
    events.push_back("caption:" + text);
  }
  void AppendLogLine(const std::string& text) override {
    log.push_back(text);
    events.push_back("log:" + text);
  }
  void SetListEnabled(bool enabled) override {
    listEnabled = enabled;
    events.push_back(enabled ? "list:on" : "list:off");
  }
  void ClearList() override {
    list.clear();
    events.push_back("clear");
  }
  void AddListLine(const std::string& text) override {
    list.push_back(text);
    events.push_back("line:" + text);
  }
  void SetOperationButtonsEnabled(bool enabled) override {
    buttonsEnabled = enabled;
    events.push_back(enabled ? "buttons:on" : "buttons:off");
  }
  int DlmcTypeIndex() override { return dlmcIndex; }
  std::string DlmcTypeText() override {
    if (dlmcText) return *dlmcText;
    return dlmcIndex >= 0 && dlmcIndex < static_cast<int>(kDlmcModeTable.size())
               ? std::string(kDlmcModeTable[static_cast<std::size_t>(dlmcIndex)].boxText)
               : "";
  }
  std::optional<std::string> OpenFileDialog() override {
    events.push_back("dialog");
    if (dialogAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    if (answer == "throw") throw std::runtime_error("the dialog failed");
    return answer;
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    events.push_back("message:" + text);
  }
  bool AskYesNo(const std::string& text) override {
    questions.push_back(text);
    events.push_back("ask:" + text);
    if (yesNoAnswers.empty()) return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
  }
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
  bool KeyHeld(Key key) override { return key == Key::ctrl ? ctrlHeld : shiftHeld; }

  // Index of the first event equal to `event` at or after `from`; -1 if none.
  int Find(const std::string& event, int from = 0) const {
    for (int i = from; i < static_cast<int>(events.size()); ++i) {
      if (events[i] == event) return i;
    }
    return -1;
  }
};

}  // namespace brisquel::testing
