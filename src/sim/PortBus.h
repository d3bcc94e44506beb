// The bench's driver library: IDE channels decoded at their command-block base
// ports, floating data on every other port, and configuration reads from the
// bench's PCI bus.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "hw/uWinRing0.h"
#include "sim/IdeChannel.h"
#include "sim/PciBus.h"

namespace brisquel::sim {

// What InitializeOls, GetDllStatus and GetDriverType answer. A library that is
// not ready behaves as one that failed to start: configuration reads give
// 0xFFFFFFFF, port reads float and port writes are lost.
struct LibraryAnswers {
  bool ready = true;
  std::int32_t dllStatus = 0;   // OLS_DLL_NO_ERROR
  std::int32_t driverType = 4;  // x64 driver
  // Register reads that make a millisecond of the bench's time: more makes
  // a wait's time limit last longer for real.
  std::uint64_t readsPerMs = 1;
};

struct PortAccess {
  enum class Kind { readByte, readWord, writeByte, writeWord };
  Kind kind;
  std::uint16_t port;
  std::uint16_t value;  // read or written
  bool operator==(const PortAccess&) const = default;
};

class PortBus : public PortLibrary {
 public:
  explicit PortBus(PciBus& pci) : pci_(pci) {}

  LibraryAnswers& Library() { return library_; }

  // Decodes base+0..base+7 to the channel. False (and nothing mapped) when the
  // range would reach past 0xFFFF or overlap a channel already mapped.
  bool MapChannel(std::uint16_t base, std::shared_ptr<IdeChannel> channel);
  IdeChannel* ChannelAt(std::uint16_t base) const;

  // Port accesses are recorded only while recording is on; PCI reads are counted always.
  void Record(bool on) { recording_ = on; }
  const std::vector<PortAccess>& Accesses() const { return accesses_; }
  void ClearAccesses() { accesses_.clear(); }
  std::uint64_t PciReads() const { return pciReads_; }
  std::uint64_t ClaimRefreshes() const { return claimRefreshes_; }

  bool InitializeOls() override { return library_.ready; }
  std::int32_t GetDllStatus() override { return library_.dllStatus; }
  std::int32_t GetDriverType() override { return library_.driverType; }
  std::uint8_t ReadIoPortByte(std::uint16_t port) override;
  std::uint16_t ReadIoPortWord(std::uint16_t port) override;
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override;
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override;
  std::uint32_t ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) override;
  // The bench has no system drivers; the calls are only counted.
  void RefreshPortClaims() override { ++claimRefreshes_; }
  // The bench's time passes as the drives' does: a millisecond a register read.
  std::uint64_t WaitClockMs() override { return byteReads_ / library_.readsPerMs; }

 private:
  // The channel decoding `port` and the register offset within it, or null.
  IdeChannel* Decode(std::uint16_t port, std::uint8_t& offset) const;
  void Note(PortAccess::Kind kind, std::uint16_t port, std::uint16_t value);

  PciBus& pci_;
  LibraryAnswers library_;
  std::map<std::uint16_t, std::shared_ptr<IdeChannel>> channels_;  // by base port
  bool recording_ = false;
  std::vector<PortAccess> accesses_;
  std::uint64_t pciReads_ = 0;
  std::uint64_t claimRefreshes_ = 0;
  std::uint64_t byteReads_ = 0;
};

}  // namespace brisquel::sim
