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

// Runs `call` (one pass-through request on t.io) where the device I/O wants
// it: inline, or on a worker while this thread pumps.
void RunDeviceCall(TransportContext& t, const std::function<void()>& call);

// Makes one pass-through request and returns the system's answer to it.
template <typename Answer, typename Call>
Answer CallDevice(TransportContext& t, Call&& call) {
  Answer answer;
  RunDeviceCall(t, [&] { answer = call(); });
  return answer;
}

}  // namespace brisquel
