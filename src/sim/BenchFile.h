// A bench described as text: PCI functions, IDE channels with their drives,
// disks as the system lists them, USB bridges, and the driver library's and
// the device library's answers. The parser is strict: the first thing it
// cannot take ends the parse with its line number and a plain reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ops/DiskUsers.h"
#include "sim/AtaDrive.h"
#include "sim/NvmeController.h"
#include "sim/PciBus.h"
#include "sim/PortBus.h"
#include "sim/UsbBridge.h"

namespace brisquel::sim {

inline constexpr std::size_t kMaxBenchFileBytes = 1 << 20;
inline constexpr std::size_t kMaxBenchLineLength = 512;
inline constexpr std::size_t kMaxBenchPciFunctions = 1024;
inline constexpr std::size_t kMaxBenchChannels = 64;
inline constexpr std::size_t kMaxBenchDrives = 256;
inline constexpr std::size_t kMaxBenchBridges = 64;
inline constexpr std::size_t kMaxBenchDisks = 128;

struct BenchPciFunction {
  PciLocation at;
  PciFunctionConfig config;
};

struct BenchDrive {
  std::string name;
  DriveIdentity identity;
  DriveFaults faults;
  // A captured IDENTIFY sector to replay, as the file names it (a relative
  // path is taken from the bench file's folder); read when the bench is built.
  std::string identifyFile{};
  int identifyFileLine = 0;
};

struct BenchNvme {
  std::string name;
  NvmeIdentity identity;
  NvmeFaults faults;
};

struct BenchChannel {
  std::uint16_t basePort = 0;
  std::string device[2];  // drive names; empty: no drive at that position
};

struct BenchBridge {
  std::string name;
  BridgeBehaviour behaviour;
};

struct BenchDisk {
  std::string path;
  std::string drive;   // empty only for a disk that fails to open, or an NVMe one
  std::string nvme;    // an NVMe drive's controller
  std::string bridge;  // empty: attached directly
  std::optional<std::string> friendlyName;
  std::optional<std::int32_t> number;
  std::uint8_t busType = 11;  // SATA
  bool failsToOpen = false;
  bool adapterValid = true;
  std::uint32_t maxTransferLength = 0x20000;
  std::string inUse;  // what holds the disk ("/ is mounted"); empty: nothing
  RunningSystem system = RunningSystem::none;  // the disk holds the running system
};

struct BenchDescription {
  LibraryAnswers library;
  bool enumeratorAvailable = true;
  bool deviceSetOpens = true;
  std::vector<BenchPciFunction> pci;
  std::vector<BenchDrive> drives;
  std::vector<BenchNvme> nvmes;
  std::vector<BenchChannel> channels;
  std::vector<BenchBridge> bridges;
  std::vector<BenchDisk> disks;
};

struct BenchParse {
  std::optional<BenchDescription> bench;
  int line = 0;       // where the error is; 0 for the text as a whole
  std::string error;  // "line N: reason", or "reason" for the text as a whole
};

BenchParse ParseBenchText(std::string_view text);

// The default bench, in the same format (bench-files/default.ini holds a copy).
extern const std::string_view kDefaultBenchText;

// The default device path of the i-th disk.
std::string DefaultDiskPath(std::size_t index);

}  // namespace brisquel::sim
