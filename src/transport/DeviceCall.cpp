#include "transport/DeviceCall.h"

#include <atomic>
#include <exception>
#include <memory>
#include <utility>

#include "transport/DeviceIo.h"

namespace brisquel {
namespace {

class SteadyClock : public WaitClock {
 public:
  bool Wait(const std::shared_future<void>& done, std::chrono::milliseconds slice) override {
    return done.wait_for(slice) == std::future_status::ready;
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

void Tell(std::promise<void>& finished, std::exception_ptr thrown) {
  thrown ? finished.set_exception(thrown) : finished.set_value();
}

}  // namespace

DeviceCallWorker::DeviceCallWorker() : thread_([this] { Serve(); }) { ++threadsStarted; }

DeviceCallWorker::~DeviceCallWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

std::uint64_t DeviceCallWorker::ThreadsStarted() { return threadsStarted; }

std::optional<std::shared_future<void>> DeviceCallWorker::Hand(const std::function<void()>& call) {
  std::shared_future<void> done;
  {
    const std::lock_guard lock(mutex_);
    if (busy_) return std::nullopt;
    busy_ = true;
    call_ = &call;
    finished_ = std::promise<void>();
    done = finished_.get_future().share();
  }
  wake_.notify_one();
  return done;
}

void DeviceCallWorker::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || call_; });
    if (!call_) return;
    const std::function<void()>& call = *std::exchange(call_, nullptr);
    std::promise<void> finished = std::move(finished_);
    lock.unlock();
    const std::exception_ptr thrown = Run(call);
    lock.lock();
    // Free before the result is told: the caller may hand the next request
    // as soon as it sees it.
    busy_ = false;
    lock.unlock();
    Tell(finished, thrown);
    lock.lock();
  }
}

void RunDeviceCall(TransportContext& t, const std::function<void()>& call) {
  if (!t.io.CallsBlock()) {
    call();
    return;
  }
  if (!t.state.CallWorker) t.state.CallWorker = std::make_shared<DeviceCallWorker>();
  std::optional<std::shared_future<void>> handed = t.state.CallWorker->Hand(call);
  std::promise<void> ownFinished;
  std::thread own;
  if (!handed) {
    ++threadsStarted;
    handed = ownFinished.get_future().share();
    own = std::thread([&] { Tell(ownFinished, Run(call)); });
  }
  const std::shared_future<void> done = *handed;
  SteadyClock steady;
  WaitClock& clock = t.clock ? *t.clock : steady;
  bool told = t.state.BreakFlag;
  while (!clock.Wait(done, kPumpInterval)) {
    t.host.PumpMessages();
    if (t.state.BreakFlag && !told) {
      t.host.LogLine("Break: waiting for the drive to finish the current command");
      told = true;
    }
  }
  if (own.joinable()) own.join();
  done.get();  // what the request threw
}

}  // namespace brisquel
