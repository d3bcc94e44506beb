// Small fakes for the discovery tests: a PCI configuration space, a view that
// records log lines and pumps, and a disk walk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "discovery/DiskEnumerator.h"
#include "hw/uWinRing0.h"
#include "transport/UiHost.h"

namespace brisquel::fakes {

// Configuration dwords by (function address, register); every other read gives
// all ones, as for an absent function. Port I/O is not expected from a scan.
class FakePciBus : public PortLibrary {
 public:
  struct Read {
    std::uint32_t address;
    std::uint8_t reg;
    bool operator==(const Read&) const = default;
  };

  void Set(int bus, int device, int function, std::uint8_t reg, std::uint32_t value) {
    config[{Addr(bus, device, function), reg}] = value;
  }
  // One function: ids, class register 0x08, base address registers 0x10..0x1C,
  // and the multi-function bit in register 0x0C.
  void AddFunction(int bus, int device, int function, std::uint16_t vendor, std::uint16_t deviceId,
                   std::uint32_t reg08, std::vector<std::uint32_t> bars = {},
                   bool multiFunction = false) {
    Set(bus, device, function, 0x00, (std::uint32_t{deviceId} << 16) | vendor);
    Set(bus, device, function, 0x08, reg08);
    Set(bus, device, function, 0x0C, multiFunction ? 0x00800000u : 0u);
    for (std::size_t i = 0; i < 4; ++i) {
      Set(bus, device, function, static_cast<std::uint8_t>(0x10 + 4 * i),
          i < bars.size() ? bars[i] : 0u);
    }
  }
  static std::uint32_t Addr(int bus, int device, int function) {
    return PciAddress(static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(device),
                      static_cast<std::uint8_t>(function));
  }

  bool InitializeOls() override { return true; }
  std::int32_t GetDllStatus() override { return 0; }
  std::int32_t GetDriverType() override { return 0; }
  std::uint8_t ReadIoPortByte(std::uint16_t) override { return Unexpected(), 0xFF; }
  std::uint16_t ReadIoPortWord(std::uint16_t) override { return Unexpected(), 0xFFFF; }
  void WriteIoPortByte(std::uint16_t, std::uint8_t) override { Unexpected(); }
  void WriteIoPortWord(std::uint16_t, std::uint16_t) override { Unexpected(); }
  std::uint32_t ReadPciConfigDword(std::uint32_t address, std::uint8_t reg) override {
    reads.push_back({address, reg});
    auto it = config.find({address, reg});
    return it == config.end() ? 0xFFFFFFFFu : it->second;
  }

  std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> config;
  std::vector<Read> reads;

 private:
  static void Unexpected() { ADD_FAILURE() << "port I/O during a PCI scan"; }
};

class FakeHost : public UiHost {
 public:
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool KeyHeld(Key key) override { return key == Key::shift ? shift : ctrl; }
  void LogLine(const std::string& text) override { lines.push_back(text); }

  int pumps = 0;
  bool shift = false;
  bool ctrl = false;
  std::function<void()> onPump;
  std::vector<std::string> lines;
};

// Answers Query from a list of steps; past its end, noMoreItems.
class FakeDisks : public DiskEnumerator {
 public:
  struct Slot {
    DiskStep step;
    DiskInterfaceInfo info;
  };
  bool Available() override { return available; }
  bool Begin() override {
    ++begins;
    return opens;
  }
  DiskStep Query(int index, DiskInterfaceInfo& info) override {
    queried.push_back(index);
    if (index < 0 || static_cast<std::size_t>(index) >= slots.size()) return DiskStep::noMoreItems;
    const Slot& slot = slots[static_cast<std::size_t>(index)];
    if (slot.step == DiskStep::found) info = slot.info;
    return slot.step;
  }
  void End() override { ++ends; }

  bool available = true;
  bool opens = true;
  std::vector<Slot> slots;
  std::vector<int> queried;
  int begins = 0;
  int ends = 0;
};

}  // namespace brisquel::fakes
