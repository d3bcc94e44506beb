#include "transport/DeviceCall.h"

#include <semaphore.h>

#include <cerrno>
#include <ctime>
#include <optional>
#include <utility>

#include "transport/DeviceIo.h"

namespace brisquel {

// POSIX semaphores (glibc; winpthreads under mingw): a post wakes only a
// sleeping waiter, a wait sleeps only on zero.
struct CallDone::Signal {
  sem_t sem;
  Signal() { sem_init(&sem, 0, 0); }
  ~Signal() { sem_destroy(&sem); }
};

CallDone::CallDone() : told_(std::make_unique<Signal>()) {}
CallDone::~CallDone() = default;

bool CallDone::WaitFor(std::chrono::milliseconds slice) {
  // sem_timedwait takes the time of day; a slice is short enough that a
  // clock step only lengthens or shortens one pump.
  const auto end = std::chrono::system_clock::now() + slice;
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(end.time_since_epoch()).count();
  timespec until{};
  until.tv_sec = static_cast<std::time_t>(ns / 1'000'000'000);
  until.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  // A signal (Ctrl-C) ends the slice early, so Break is seen at once.
  return sem_timedwait(&told_->sem, &until) == 0;
}

void CallDone::Wait() {
  while (sem_wait(&told_->sem) != 0 && errno == EINTR) {
  }
}

void CallDone::Tell(std::exception_ptr thrown) {
  thrown_ = thrown;
  sem_post(&told_->sem);
}

std::exception_ptr CallDone::Take() { return std::exchange(thrown_, nullptr); }

namespace {

class RealClock : public WaitClock {
 public:
  bool Wait(CallDone& done, std::chrono::milliseconds slice) override {
    return done.WaitFor(slice);
  }
};

std::atomic<std::uint64_t> threadsStarted{0};

// Runs `call`; what it threw, if anything.
std::exception_ptr Run(const std::function<void()>& call) {
  try {
    call();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

}  // namespace

DeviceCallWorker::DeviceCallWorker() : thread_([this] { Serve(); }) { ++threadsStarted; }

DeviceCallWorker::~DeviceCallWorker() {
  stop_ = true;
  work_.Tell(nullptr);
  thread_.join();
}

std::uint64_t DeviceCallWorker::ThreadsStarted() { return threadsStarted; }

void DeviceCallWorker::Free() { busy_ = false; }

CallDone* DeviceCallWorker::Hand(const std::function<void()>& call) {
  if (busy_.exchange(true)) return nullptr;
  call_ = &call;
  work_.Tell(nullptr);
  return &done_;
}

void DeviceCallWorker::Serve() {
  for (;;) {
    work_.Wait();
    if (stop_) return;
    // Still busy once told: the caller frees the worker when it has taken
    // the end, so a request made from inside its pumps meanwhile can never
    // take this end for its own.
    done_.Tell(Run(*call_));
  }
}

void RunDeviceCall(TransportContext& t, const std::function<void()>& call) {
  if (!t.io.CallsBlock()) {
    call();
    return;
  }
  if (!t.state.CallWorker) t.state.CallWorker = std::make_shared<DeviceCallWorker>();
  CallDone* done = t.state.CallWorker->Hand(call);
  std::optional<CallDone> ownDone;
  std::thread own;
  if (!done) {
    ++threadsStarted;
    done = &ownDone.emplace();
    own = std::thread([&] { ownDone->Tell(Run(call)); });
  }
  RealClock real;
  WaitClock& clock = t.clock ? *t.clock : real;
  bool told = t.state.BreakFlag;
  while (!clock.Wait(*done, kPumpInterval)) {
    t.host.PumpMessages();
    if (t.state.BreakFlag && !told) {
      t.host.LogLine("Break: waiting for the drive to finish the current command");
      told = true;
    }
  }
  if (own.joinable()) own.join();
  const std::exception_ptr thrown = done->Take();
  if (!ownDone) t.state.CallWorker->Free();
  if (thrown) std::rethrow_exception(thrown);
}

}  // namespace brisquel
