#include "transport/DeviceCall.h"

#include <thread>

#include "transport/DeviceIo.h"

namespace brisquel {
namespace {

class SteadyClock : public WaitClock {
 public:
  bool Wait(const std::shared_future<void>& done, std::chrono::milliseconds slice) override {
    return done.wait_for(slice) == std::future_status::ready;
  }
};

}  // namespace

bool CallDevice(TransportContext& t, const std::function<bool()>& call) {
  if (!t.io.CallsBlock()) {
    t.io.SetLastError(0);
    return call();
  }
  // The last error belongs to the thread that made the call (on Windows), so
  // the worker reads it and hands it back with the result.
  bool ok = false;
  std::uint32_t error = 0;
  std::promise<void> finished;
  const std::shared_future<void> done = finished.get_future().share();
  std::thread worker([&] {
    t.io.SetLastError(0);
    ok = call();
    error = t.io.GetLastError();
    finished.set_value();
  });
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
  worker.join();
  t.io.SetLastError(error);
  return ok;
}

}  // namespace brisquel
