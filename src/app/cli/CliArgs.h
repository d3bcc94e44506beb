// The command line of brisquel-cli: commands, targets and global options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/SystemFirmwareInterface.h"

#include "transport/SatCdb.h"

namespace brisquel::cli {

enum class Command {
  none,
  list,
  inventory,
  scan,
  identify,
  info,
  dlmc,
  dptm,
  errorName,
  bench,
  benchReset,
  benchImage,
  benchPowerCycle
};

// --drive N (a line of `list`), --channel N (a line of `scan`), --port 0xNNNN,
// or the drive that reports --serial S and/or --wwn W (`named`).
enum class TargetKind { none, drive, channel, port, named };

struct Target {
  TargetKind kind = TargetKind::none;
  std::uint32_t value = 0;
  std::optional<std::string> serial;  // named: as the drive reports it, blanks aside
  std::optional<std::uint64_t> wwn;   // named
};

struct CliOptions {
  Command command = Command::none;
  Target target;
  std::optional<std::uint8_t> device;  // --device: 1 for the channel's second device
  std::optional<std::uint8_t> mode;  // dlmc: 0x01, 0x03, 0x07, 0x0E or 0x0F
  std::optional<std::string> file;   // dlmc, dptm
  std::vector<std::uint16_t> codes;  // error-name
  // bench image REVISION BLOCKS FILE (the FILE in file)
  std::string imageRevision;
  std::uint32_t imageBlocks = 0;

  bool sim = false;
  std::optional<std::string> benchFile;  // --sim=FILE
  bool json = false;
  std::optional<std::string> trace;  // --trace: "" for stderr, else the file
  bool yes = false;
  bool ask = false;  // the consent question on the bench too
  bool force = false;  // send although the pre-flight checks refuse
  // With --force: switch firmware at once on the disk the running system is on.
  bool forceSystemDisk = false;
  FirmwareVia via = FirmwareVia::automatic;  // --via, modes 0E and 0F
  // --segment-blocks: a number, or none with segmentAuto for "auto".
  std::optional<std::uint32_t> segmentBlocks;
  bool segmentAuto = false;
  // NVMe: --slot N, and --activate now (at the next reset by default).
  std::optional<int> slot;
  bool activateNow = false;
  std::optional<SatForm> sat;  // --sat: the command block form for a USB drive
  std::optional<std::string> record;  // --record=FILE
  bool recordSerial = false;          // the recording keeps serial number and WWN
  bool help = false;
  bool version = false;
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the line is valid
};

// args excludes the program name.
ParseResult ParseArgs(const std::vector<std::string>& args);

// The words scripts use: "list", "identify", "error-name", ...
const char* CommandName(Command command);

// Modes that leave new firmware on the drive beyond the next power cycle, or
// switch to it: these ask for consent on a real drive.
bool DlmcModeIsLasting(std::uint8_t mode);

std::string UsageText();

}  // namespace brisquel::cli
