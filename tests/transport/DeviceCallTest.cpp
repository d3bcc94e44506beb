// The system's request is waited for on a worker thread while the window
// pumps; the bench's runs inline. A scripted clock stands in for the two
// minutes a drive may take to flash, so the test takes none of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeTransport.h"
#include "transport/AtaCommands.h"
#include "transport/DeviceCall.h"
#include "transport/Dispatch.h"

namespace brisquel {
namespace {

using std::chrono::milliseconds;
using testing::FakeDeviceIo;
using testing::FakeTransport;

// A system device: its request blocks until the drive is done.
class BlockingIo : public FakeDeviceIo {
 public:
  bool CallsBlock() override { return true; }
};

// Time passes only as the UI thread waits; the drive finishes at `doneAt`.
class ScriptedClock : public WaitClock {
 public:
  explicit ScriptedClock(milliseconds doneAt) : doneAt_(doneAt) {}
  bool Wait(CallDone& done, milliseconds slice) override {
    now += slice;
    if (now >= doneAt_ && !finished_) {
      finished_ = true;
      drive.set_value();
    }
    if (!finished_) return false;
    done.Wait();
    return true;
  }
  milliseconds now{0};
  std::promise<void> drive;

 private:
  milliseconds doneAt_;
  bool finished_ = false;
};

struct WorkerWait : ::testing::Test {
  BlockingIo io;
  TransportState state;
  testing::RecordingPorts ports;
  testing::FakeUiHost host;
  ScriptedClock clock{milliseconds(119'000)};
  TransportContext t{state, ports, io, host, nullptr, &clock};
  std::vector<milliseconds> pumpedAt;
  std::thread::id requestThread;

  WorkerWait() {
    state.DriveTarget.kind = TransportKind::ataPassThrough;
    state.DriveTarget.ataPassHandle = io.Open(0x10);
    std::shared_future<void> drive = clock.drive.get_future().share();
    io.defaultReply = FakeDeviceIo::AtaRegisters(0x50);
    FakeDeviceIo::Reply flash = FakeDeviceIo::AtaRegisters(0x50);
    flash.ata = [this, drive](AtaAnswer& answer) {
      requestThread = std::this_thread::get_id();
      drive.wait();
      answer.returned.command = 0x50;
    };
    io.replies.push_back(flash);
    host.onPump = [this](int) { pumpedAt.push_back(clock.now); };
  }

  milliseconds LongestWithoutAPump() const {
    milliseconds last{0}, longest{0};
    for (milliseconds at : pumpedAt) {
      longest = std::max(longest, at - last);
      last = at;
    }
    return std::max(longest, clock.now - last);
  }
};

// A 119 s firmware write: the window pumps all along and the write completes.
// Break clicked meanwhile is said in the log and waits for the command's end.
TEST_F(WorkerWait, AFlashOfTwoMinutesIsWaitedForWhileTheWindowPumps) {
  std::vector<std::uint8_t> image(8 * kSectorSize, 0x5A);
  host.BreakAtPump(state.BreakFlag, 1000);
  const CommandResult r = Dispatch(t, DownloadMicrocodeCommand(0x07, 8, 0, image));
  EXPECT_EQ(r.end, CommandEnd::completed);
  EXPECT_NE(requestThread, std::this_thread::get_id()) << "the request ran on a worker";
  EXPECT_GE(pumpedAt.size(), 119'000u / 100);
  EXPECT_LE(LongestWithoutAPump(), milliseconds(100));
  EXPECT_EQ(host.log,
            std::vector<std::string>{"Break: waiting for the drive to finish the current command"});
  ASSERT_EQ(io.calls.size(), 1u);
}

// The system's refusal made on the worker comes back with the answer.
TEST_F(WorkerWait, ARefusalKeepsItsErrorAcrossTheThreads) {
  io.replies.front().ok = false;
  io.replies.front().error = win32::ERROR_SEM_TIMEOUT_;
  std::vector<std::uint8_t> image(kSectorSize);
  const CommandResult r = Dispatch(t, DownloadMicrocodeCommand(0x07, 1, 0, image));
  EXPECT_EQ(r.end, CommandEnd::timedOut);
  EXPECT_EQ(r.systemError, win32::ERROR_SEM_TIMEOUT_);
  EXPECT_EQ(host.log, std::vector<std::string>{"IOCTL_ATA_PASS_THROUGH Unknown error 121"});
}

// Every request of a run goes to one waiting thread, started at the first; a
// request made from inside a pump, while that thread waits on another, gets
// one of its own; what a request throws comes back to the caller.
TEST(DeviceCall, OneWorkerWaitsForEveryRequestOfTheRecords) {
  BlockingIo io;
  TransportState state;
  testing::RecordingPorts ports;
  testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};
  std::vector<std::thread::id> ran;
  const std::uint64_t before = DeviceCallWorker::ThreadsStarted();
  for (int i = 0; i < 5; ++i) RunDeviceCall(t, [&] { ran.push_back(std::this_thread::get_id()); });
  EXPECT_EQ(DeviceCallWorker::ThreadsStarted() - before, 1u);
  ASSERT_EQ(ran.size(), 5u);
  EXPECT_NE(ran[0], std::this_thread::get_id()) << "the requests ran on a worker";
  EXPECT_EQ(std::count(ran.begin(), ran.end(), ran[0]), 5);

  std::promise<void> innerDone;
  std::thread::id inner;
  host.onPump = [&](int pump) {
    if (pump != 1) return;
    RunDeviceCall(t, [&] { inner = std::this_thread::get_id(); });
    innerDone.set_value();
  };
  RunDeviceCall(t, [&] { innerDone.get_future().wait(); });
  EXPECT_NE(inner, ran[0]);
  EXPECT_NE(inner, std::thread::id());
  EXPECT_EQ(DeviceCallWorker::ThreadsStarted() - before, 2u);
  host.onPump = nullptr;

  EXPECT_THROW(RunDeviceCall(t, [] { throw std::runtime_error("the request failed"); }),
               std::runtime_error);
  RunDeviceCall(t, [&] { ran.push_back(std::this_thread::get_id()); });
  EXPECT_EQ(ran.back(), ran[0]) << "the worker outlives a request that threw";
  EXPECT_EQ(DeviceCallWorker::ThreadsStarted() - before, 2u);
}

// The worker ends a request while the window pumps, and a request made in
// that pump, before the waiting caller has taken the end: the new request
// must wait for its own end, not take the other's.
TEST(DeviceCall, ARequestMadeInAPumpNeverTakesTheEndOfAnother) {
  BlockingIo io;
  TransportState state;
  testing::RecordingPorts ports;
  testing::FakeUiHost host;
  TransportContext t{state, ports, io, host};
  std::atomic<bool> outerRan{false};
  bool innerRan = false;
  bool innerSawItsEnd = false;
  host.onPump = [&](int pump) {
    if (pump != 1) return;
    while (!outerRan) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(50));  // the worker has told its end by now
    RunDeviceCall(t, [&] {
      std::this_thread::sleep_for(milliseconds(50));
      innerRan = true;
    });
    innerSawItsEnd = innerRan;
  };
  RunDeviceCall(t, [&] {
    std::this_thread::sleep_for(milliseconds(2 * kPumpInterval));  // one pump at least
    outerRan = true;
  });
  EXPECT_TRUE(outerRan);
  EXPECT_TRUE(innerSawItsEnd) << "the inner request came back before it had run";
  RunDeviceCall(t, [] {});  // the worker takes requests again
}

}  // namespace
}  // namespace brisquel
