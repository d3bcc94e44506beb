// How the pass-through transports make their request to the system. A device
// I/O that answers at once (the bench) is called inline. The system's may take
// as long as the command's time limit (a drive writing firmware to flash), so
// it is called on a worker thread that does nothing but wait for the answer,
// while this thread pumps the window's messages every kPumpInterval: the
// window stays responsive and Break can be clicked. The command is never
// abandoned; Break is said in the log and honoured once it has ended. One
// worker serves every request of the records it belongs to (started at the
// first, it waits between requests), so a download's own cost per command is
// the request and a hand-over, not a thread started and joined. The hand-over
// is a semaphore each way: a wake and a wait where the other side sleeps
// (a promise, its future and a condition variable made seven system calls).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "transport/TransportState.h"

namespace brisquel {

inline constexpr std::chrono::milliseconds kPumpInterval{20};

// A request's end, told by the thread that ran it to the one waiting for it,
// with what the request threw.
class CallDone {
 public:
  CallDone();
  ~CallDone();
  CallDone(const CallDone&) = delete;
  CallDone& operator=(const CallDone&) = delete;

  // Waits until told or `slice` has passed (or a signal came); true once told.
  bool WaitFor(std::chrono::milliseconds slice);
  void Wait();
  void Tell(std::exception_ptr thrown);
  // Once told: what the request threw, if anything.
  std::exception_ptr Take();

 private:
  struct Signal;
  std::unique_ptr<Signal> told_;
  std::exception_ptr thrown_;
};

// How the UI thread waits for the worker: the real clock in the program, a
// scripted one in tests.
class WaitClock {
 public:
  virtual ~WaitClock() = default;
  // Waits until `done` is told or `slice` has passed; true once it is told.
  virtual bool Wait(CallDone& done, std::chrono::milliseconds slice) = 0;
};

// The thread that runs the blocking requests, one at a time. What a request
// throws comes back to the thread that handed it.
class DeviceCallWorker {
 public:
  DeviceCallWorker();
  ~DeviceCallWorker();  // waits for the request under way, if any
  DeviceCallWorker(const DeviceCallWorker&) = delete;
  DeviceCallWorker& operator=(const DeviceCallWorker&) = delete;

  // Starts `call` on the worker; its end is told to the result, which lives
  // as long as the worker. None while the worker's last request is not yet
  // taken (one made from inside a pump): that one gets a thread of its own.
  // `call` lives until the result is told.
  CallDone* Hand(const std::function<void()>& call);
  // The handed request's end has been taken: the worker takes the next.
  void Free();

  // Threads started for requests, by the workers and beside them.
  static std::uint64_t ThreadsStarted();

 private:
  void Serve();

  // Tells the worker that call_ (or stop_) is set.
  CallDone work_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> stop_{false};
  const std::function<void()>* call_ = nullptr;
  CallDone done_;
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
