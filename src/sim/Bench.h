// A whole simulated bench: PCI bus, port bus with IDE channels, drives, USB
// bridges, device I/O and the disk list, built from a bench description.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/AtaDrive.h"
#include "sim/BenchClock.h"
#include "sim/BenchFile.h"
#include "sim/IdeChannel.h"
#include "sim/PciBus.h"
#include "sim/PortBus.h"
#include "sim/SimDeviceIo.h"
#include "sim/SimDiskEnumerator.h"
#include "sim/UsbBridge.h"

namespace brisquel::sim {

class Bench;

// A recording holds the data each command brought back in hex: a long run
// makes a larger file than a bench description.
inline constexpr std::size_t kMaxRecordingBytes = 64u << 20;

struct BenchLoad {
  std::unique_ptr<Bench> bench;  // null on error
  std::string error;             // "SOURCE: line N: reason"
};

class Bench {
 public:
  Bench() : Bench(BenchDescription{}) {}
  explicit Bench(const BenchDescription& description);
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  static std::unique_ptr<Bench> Default();
  // `source` names the text in error messages (a file name, say); relative
  // identify-file paths are taken from `folder`.
  static BenchLoad FromText(std::string_view text, const std::string& source = "bench",
                            const std::filesystem::path& folder = {});
  // A recording played back: its one target, a drive at index 0 of the disk
  // list or a PIO channel at its base port, answers each command as recorded.
  static BenchLoad FromRecording(std::string_view text, const std::string& source = "recording");
  // `path` is UTF-8 text, as every path in the program: a bench description,
  // or a recording (known by its first line).
  static BenchLoad FromFile(const std::string& path);

  PciBus& Pci() { return pci_; }
  PortBus& Ports() { return ports_; }
  SimDeviceIo& Io() { return io_; }
  SimDiskEnumerator& Disks() { return disks_; }
  DiskUsers& Users() { return disks_; }
  BenchClock& Clock() { return clock_; }

  // By the names of the description; null when there is none.
  AtaDrive* Drive(const std::string& name) const;
  // The names of all drives, in name order.
  std::vector<std::string> DriveNames() const;
  UsbBridge* Bridge(const std::string& name) const;
  NvmeController* Nvme(const std::string& name) const;
  std::vector<std::string> NvmeNames() const;
  IdeChannel* Channel(std::uint16_t basePort) const { return ports_.ChannelAt(basePort); }

 private:
  PciBus pci_;
  PortBus ports_{pci_};
  SimDeviceIo io_;
  SimDiskEnumerator disks_;
  BenchClock clock_;
  std::map<std::string, std::shared_ptr<AtaDrive>, std::less<>> drives_;
  std::map<std::string, std::shared_ptr<UsbBridge>, std::less<>> bridges_;
  std::map<std::string, std::shared_ptr<NvmeController>, std::less<>> nvmes_;
};

}  // namespace brisquel::sim
