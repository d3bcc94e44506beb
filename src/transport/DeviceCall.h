// How the pass-through transports make their request to the system. A device
// I/O that answers at once (the bench) is called inline. The system's may take
// as long as the command's time limit (a drive writing firmware to flash), so
// it is called on a worker thread that does nothing but wait for the answer,
// while this thread pumps the window's messages every kPumpInterval: the
// window stays responsive and Break can be clicked. The command is never
// abandoned; Break is said in the log and honoured once it has ended.
#pragma once

#include <chrono>
#include <functional>
#include <future>

#include "transport/TransportState.h"

namespace brisquel {

inline constexpr std::chrono::milliseconds kPumpInterval{20};

// How the UI thread waits for the worker: the steady clock in the program, a
// scripted one in tests.
class WaitClock {
 public:
  virtual ~WaitClock() = default;
  // Waits until `done` is ready or `slice` has passed; true once it is ready.
  virtual bool Wait(const std::shared_future<void>& done, std::chrono::milliseconds slice) = 0;
};

// Sets the last error to 0, makes `call` (one DeviceIoControl on t.io) and
// returns its result with the last error it left, on this thread.
bool CallDevice(TransportContext& t, const std::function<bool()>& call);

}  // namespace brisquel
