#include "app/cli/Interrupt.h"

#include <csignal>
#include <cstdlib>

namespace brisquel::cli {

namespace {

volatile std::sig_atomic_t gPresses = 0;
volatile std::sig_atomic_t gOperationRunning = 0;

extern "C" void OnInterrupt(int signal) {
  gPresses = gPresses + 1;
  if (!gOperationRunning || gPresses >= 2) std::_Exit(kExitInterrupted);
  // Some C libraries reset the handler once it has run.
  std::signal(signal, OnInterrupt);
}

}  // namespace

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
}

int InterruptCount() {
  return gPresses;
}

OperationRunning::OperationRunning() {
  gOperationRunning = 1;
}
OperationRunning::~OperationRunning() {
  gOperationRunning = 0;
}

OperationPaused::OperationPaused() : was_(gOperationRunning) {
  gOperationRunning = 0;
}
OperationPaused::~OperationPaused() {
  gOperationRunning = was_;
}

}  // namespace brisquel::cli
