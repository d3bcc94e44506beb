// A PortLibrary that records every port access (port, width, value, in order)
// and answers reads from per-port scripts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <utility>
#include <vector>

#include "hw/uWinRing0.h"

namespace brisquel::testing {

struct PortAccess {
  enum Op { read, write };
  Op op;
  std::uint16_t port;
  int width;  // 8 or 16
  std::uint16_t value;
  bool operator==(const PortAccess&) const = default;
};

inline PortAccess Rd8(std::uint16_t port, std::uint8_t value) {
  return {PortAccess::read, port, 8, value};
}
inline PortAccess Wr8(std::uint16_t port, std::uint8_t value) {
  return {PortAccess::write, port, 8, value};
}
inline PortAccess Rd16(std::uint16_t port, std::uint16_t value) {
  return {PortAccess::read, port, 16, value};
}
inline PortAccess Wr16(std::uint16_t port, std::uint16_t value) {
  return {PortAccess::write, port, 16, value};
}

inline std::ostream& operator<<(std::ostream& os, const PortAccess& a) {
  return os << (a.op == PortAccess::read ? "in" : "out") << a.width << "(0x" << std::hex << a.port
            << ", 0x" << a.value << std::dec << ")";
}

class RecordingPorts : public PortLibrary {
 public:
  std::vector<PortAccess> accesses;
  bool record = true;  // off: count only, for long transfers
  std::size_t accessCount = 0;

  // Byte reads of `port` return these values in turn; the last one repeats.
  // Unscripted ports read 0xFF, as a floating bus does.
  void ScriptBytes(std::uint16_t port, std::vector<std::uint8_t> values) {
    byteScripts_[port] = {std::move(values), 0};
  }
  // Word reads: a function of the port and the number of earlier word reads.
  std::function<std::uint16_t(std::uint16_t port, std::size_t index)> wordSource =
      [](std::uint16_t, std::size_t) -> std::uint16_t { return 0xFFFF; };
  // Called after each access is recorded.
  std::function<void(const PortAccess&)> onAccess;

  std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> pciConfig;

  bool InitializeOls() override { return true; }
  std::int32_t GetDllStatus() override { return 0; }
  std::int32_t GetDriverType() override { return 1; }

  std::uint8_t ReadIoPortByte(std::uint16_t port) override {
    std::uint8_t value = 0xFF;
    auto it = byteScripts_.find(port);
    if (it != byteScripts_.end() && !it->second.first.empty()) {
      auto& [values, next] = it->second;
      value = values[std::min(next, values.size() - 1)];
      ++next;
    }
    Note(Rd8(port, value));
    return value;
  }
  std::uint16_t ReadIoPortWord(std::uint16_t port) override {
    const std::uint16_t value = wordSource(port, wordReads_++);
    Note(Rd16(port, value));
    return value;
  }
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override { Note(Wr8(port, value)); }
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override {
    Note(Wr16(port, value));
  }
  std::uint32_t ReadPciConfigDword(std::uint32_t address, std::uint8_t reg) override {
    auto it = pciConfig.find({address, reg});
    return it == pciConfig.end() ? 0xFFFFFFFFu : it->second;
  }

  // Accesses that match a predicate, e.g. all status reads.
  std::size_t Count(const std::function<bool(const PortAccess&)>& match) const {
    std::size_t n = 0;
    for (const PortAccess& a : accesses) n += match(a) ? 1 : 0;
    return n;
  }

 private:
  void Note(const PortAccess& a) {
    ++accessCount;
    if (record) accesses.push_back(a);
    if (onAccess) onAccess(a);
  }
  std::map<std::uint16_t, std::pair<std::vector<std::uint8_t>, std::size_t>> byteScripts_;
  std::size_t wordReads_ = 0;
};

}  // namespace brisquel::testing
