// How the pass-through transports make their request to the system. A device
// I/O that answers at once (the bench) is called inline. The system's may take
// as long as the command's time limit (a drive writing firmware to flash), so
// it is called on a worker thread that does nothing but wait for the answer,
// while this thread pumps the window's messages every kPumpInterval: the
// window stays responsive and Break can be clicked. The command is never
// abandoned; Break is said in the log and honoured once it has ended. One
// worker serves every request of the records it belongs to (started at the
// first, it waits between requests), so a download's own cost per command is
// the request and a hand-over, not a thread started and joined.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

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

// The thread that runs the blocking requests, one at a time. What a request
// throws comes back to the thread that handed it.
class DeviceCallWorker {
 public:
  DeviceCallWorker();
  ~DeviceCallWorker();  // waits for the request under way, if any
  DeviceCallWorker(const DeviceCallWorker&) = delete;
  DeviceCallWorker& operator=(const DeviceCallWorker&) = delete;

  // Starts `call` on the worker; ready when it has returned. None while the
  // worker runs another (a request made from inside a pump): that one gets a
  // thread of its own. `call` lives until the result is ready.
  std::optional<std::shared_future<void>> Hand(const std::function<void()>& call);

  // Threads started for requests, by the workers and beside them.
  static std::uint64_t ThreadsStarted();

 private:
  void Serve();

  std::mutex mutex_;
  std::condition_variable wake_;
  const std::function<void()>* call_ = nullptr;
  std::promise<void> finished_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// Runs `call` (one pass-through request on t.io) where the device I/O wants
// it: inline, or on the records' worker while this thread pumps.
void RunDeviceCall(TransportContext& t, const std::function<void()>& call);

// Makes one pass-through request and returns the system's answer to it.
template <typename Answer, typename Call>
Answer CallDevice(TransportContext& t, Call&& call) {
  Answer answer;
  RunDeviceCall(t, [&] { answer = call(); });
  return answer;
}

}  // namespace brisquel
