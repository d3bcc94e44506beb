// Devices that cost nothing, so that a benchmark times Brisquel and not the
// simulated drive, and the measuring helpers every benchmark shares.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hw/uWinRing0.h"
#include "ops/OperationHost.h"
#include "ops/UpdateProcedure.h"
#include "sim/BenchClock.h"
#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"

namespace brisquel::benchmarks {

// Completes every request at once with a good status and touches no data:
// status DRDY|DSC in the returned task file, SCSI status GOOD.
class NullDeviceIo : public DeviceIo {
 public:
  OsHandle CreateFileA(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t) override {
    return 1;
  }
  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  bool CloseHandle(OsHandle) override { return true; }
  std::uint32_t GetLastError() override { return lastError_; }
  std::string SystemMessageText(std::uint32_t) override { return {}; }

  std::uint64_t requests = 0;

 private:
  std::uint32_t lastError_ = 0;
};

// A channel that is always ready: the status register reads DRDY|DSC|DRQ
// (ready, data requested), every other register and the data port read zero,
// writes are dropped. Accesses are counted by kind.
class ReadyPortBus : public PortLibrary {
 public:
  bool InitializeOls() override { return true; }
  std::int32_t GetDllStatus() override { return 0; }
  std::int32_t GetDriverType() override { return 4; }
  std::uint8_t ReadIoPortByte(std::uint16_t port) override {
    ++byteReads;
    return (port & 7) == 7 ? 0x58 : 0x00;
  }
  std::uint16_t ReadIoPortWord(std::uint16_t) override {
    ++wordReads;
    return 0;
  }
  void WriteIoPortByte(std::uint16_t, std::uint8_t) override { ++byteWrites; }
  void WriteIoPortWord(std::uint16_t, std::uint16_t) override { ++wordWrites; }
  std::uint32_t ReadPciConfigDword(std::uint32_t, std::uint8_t) override { return 0xFFFFFFFFu; }

  std::uint64_t Accesses() const { return byteReads + wordReads + byteWrites + wordWrites; }
  void Reset() { byteReads = wordReads = byteWrites = wordWrites = 0; }

  std::uint64_t byteReads = 0, wordReads = 0, byteWrites = 0, wordWrites = 0;
};

// Pass every call on to another library or device I/O; a benchmark overrides
// the calls it watches.
class ForwardingPorts : public PortLibrary {
 public:
  explicit ForwardingPorts(PortLibrary& inner) : inner_(inner) {}
  bool InitializeOls() override { return inner_.InitializeOls(); }
  std::int32_t GetDllStatus() override { return inner_.GetDllStatus(); }
  std::int32_t GetDriverType() override { return inner_.GetDriverType(); }
  std::uint8_t ReadIoPortByte(std::uint16_t p) override { return inner_.ReadIoPortByte(p); }
  std::uint16_t ReadIoPortWord(std::uint16_t p) override { return inner_.ReadIoPortWord(p); }
  void WriteIoPortByte(std::uint16_t p, std::uint8_t v) override { inner_.WriteIoPortByte(p, v); }
  void WriteIoPortWord(std::uint16_t p, std::uint16_t v) override { inner_.WriteIoPortWord(p, v); }
  std::uint32_t ReadPciConfigDword(std::uint32_t a, std::uint8_t r) override {
    return inner_.ReadPciConfigDword(a, r);
  }

 private:
  PortLibrary& inner_;
};

// A window that never has anything to do; the firmware dialog answers `file`.
// `onPump`, when set, runs at every pump.
class QuietHost : public OperationHost {
 public:
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool KeyHeld(Key) override { return false; }
  void LogLine(const std::string& text) override { last = text; }
  std::optional<std::string> OpenFirmwareDialog() override { return file; }
  void SetOperationButtonsEnabled(bool) override {}

  std::string file;
  std::string last;
  std::uint64_t pumps = 0;
  std::function<void()> onPump;
};

// A click on DLMC through the whole update procedure, the window saying yes to
// whatever it is asked, on a disk nothing holds.
inline DownloadOutcome ClickDlmc(OperationContext& ctx, std::uint8_t mode) {
  struct : UpdateQuestions {
    bool SendAnyway(const std::vector<std::string>&) override { return true; }
    bool SendToSystemDisk(const std::string&) override { return true; }
  } yes;
  struct : DiskUsers {
    DiskUse OfDisk(const std::string&) override { return DiskUse::Free(); }
    DiskUse OfChannel(std::uint16_t) override { return DiskUse::Free(); }
  } free;
  sim::BenchClock clock;
  UpdateContext update{ctx, yes, free, clock};
  UpdateRequest request;
  request.mode = mode;
  return RunUpdate(update, request).download;
}

// The same pointer, its target's type hidden from the optimiser, so that calls
// through it stay virtual as Brisquel's own calls are. (Calls through a
// pointer passed to DoNotOptimize crashed here, built by GCC 12.)
template <class T>
T* Opaque(T* p) {
  asm volatile("" : "+r"(p));
  return p;
}

inline double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times Brisquel's work and its floor alternately, `rounds` times each, and
// keeps the fastest of each: on a shared, noisy machine the fastest run is the
// one least disturbed by others.
struct Timing {
  double figure = 0;
  double floor = 0;
};
Timing Interleaved(int rounds, const std::function<void()>& brisquel,
                   const std::function<void()>& floor);

// One row of the table scripts/bench prints: the figure, its floor, their
// ratio, the unit and the goal (the goal as text; nothing here asserts it).
void Report(benchmark::State& bench, double figure, double floor, const std::string& unit,
            const std::string& goal);

// Resets the process's peak resident size to what is resident now.
void ResetPeakRss();
// The process's peak resident size since the last reset, in MiB.
double PeakRssMiB();

// A download benchmark's case: the transport and the DLMC mode.
struct DownloadCase {
  const char* name;
  TransportKind kind;
  std::uint8_t mode;
};
using DownloadBenchmark = void (*)(benchmark::State&, TransportKind, std::uint8_t);
// Registers the benchmark as NAME/CASE for each case, to run once each.
bool RegisterDownloads(const char* name, DownloadBenchmark function,
                       const std::vector<DownloadCase>& cases);

// A 16 MiB firmware image the bench's drives accept, written once to a
// temporary file; its path.
inline constexpr std::uint32_t kImageBlocks = 32768;
const std::string& SixteenMiBFirmwareFile();

}  // namespace brisquel::benchmarks
