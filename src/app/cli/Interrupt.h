// Ctrl-C. While an operation runs, the first one becomes Break (BreakFlag at
// the next message pump, exactly where the window's Break button would land)
// and a second one ends the process. Outside an operation there is nothing to
// stop cleanly, so the first one ends the process.
#pragma once

namespace brisquel::cli {

inline constexpr int kExitInterrupted = 3;

void InstallInterruptHandler();
// Ctrl-C presses so far.
int InterruptCount();

// Marks the span in which Ctrl-C is turned into Break rather than an exit.
class OperationRunning {
 public:
  OperationRunning();
  ~OperationRunning();
  OperationRunning(const OperationRunning&) = delete;
  OperationRunning& operator=(const OperationRunning&) = delete;
};

// Within an operation, a span in which Ctrl-C ends the program at once, as
// outside one: a question waiting for an answer, before anything was sent.
class OperationPaused {
 public:
  OperationPaused();
  ~OperationPaused();
  OperationPaused(const OperationPaused&) = delete;
  OperationPaused& operator=(const OperationPaused&) = delete;

 private:
  int was_;
};

}  // namespace brisquel::cli
