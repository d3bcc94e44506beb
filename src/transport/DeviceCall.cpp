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

void RunDeviceCall(TransportContext& t, const std::function<void()>& call) {
  if (!t.io.CallsBlock()) {
    call();
    return;
  }
  std::promise<void> finished;
  const std::shared_future<void> done = finished.get_future().share();
  std::thread worker([&] {
    call();
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
}

}  // namespace brisquel
