// A UiHost that keeps the log lines, counts pumps and can press Break (set a
// flag) at the n-th pump, the way a click during a long wait would.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "transport/UiHost.h"

namespace brisquel::testing {

class FakeUiHost : public UiHost {
 public:
  std::vector<std::string> log;
  int pumps = 0;
  std::set<Key> held;
  std::function<void(int pump)> onPump;  // called with the 1-based pump number

  // Sets `flag` during the n-th pump (1-based).
  void BreakAtPump(bool& flag, int n) {
    breakFlag_ = &flag;
    breakAt_ = n;
  }

  void PumpMessages() override {
    ++pumps;
    if (breakFlag_ && pumps == breakAt_) *breakFlag_ = true;
    if (onPump) onPump(pumps);
  }
  bool KeyHeld(Key key) override { return held.count(key) > 0; }
  void LogLine(const std::string& text) override { log.push_back(text); }

 private:
  bool* breakFlag_ = nullptr;
  int breakAt_ = 0;
};

}  // namespace brisquel::testing
