#include "app/cli/CliArgs.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "ops/DlmcModes.h"
#include "ops/DriveCapabilities.h"
#include "ops/WorldWideName.h"
#include "text/HexDigit.h"
#include "text/Trim.h"
#include "transport/AtaProtocol.h"
#include "transport/SatForms.h"

namespace brisquel::cli {

namespace {

struct CommandWord {
  std::string_view word;
  Command command;
};

constexpr std::array<CommandWord, 12> kCommands{{
    {"list", Command::list},
    {"inventory", Command::inventory},
    {"scan", Command::scan},
    {"identify", Command::identify},
    {"info", Command::info},
    {"dlmc", Command::dlmc},
    {"dptm", Command::dptm},
    {"error-name", Command::errorName},
    {"bench", Command::bench},
    // Named by their two words; no single argument matches them.
    {"bench reset", Command::benchReset},
    {"bench image", Command::benchImage},
    {"bench power-cycle", Command::benchPowerCycle},
}};

// Hexadecimal with or without "0x"; no sign, no blanks, at most max.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    const std::optional<int> digit = HexDigitValue(c);
    if (!digit) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(*digit);
    if (value > max) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> ParseIndex(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

constexpr const char* kOneTarget = "give one target: --drive, --channel, --port, or --serial and/or --wwn";

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Run() {
    for (pos_ = 0; pos_ < args_.size() && error_.empty(); ++pos_) {
      const std::string& arg = args_[pos_];
      if (!optionsEnded_ && arg == "--") {
        optionsEnded_ = true;
      } else if (!optionsEnded_ && arg.size() > 1 && arg[0] == '-') {
        Option(arg);
      } else {
        Operand(arg);
      }
    }
    if (error_.empty() && !opts_.help && !opts_.version) Check();
    return {opts_, error_};
  }

 private:
  void Option(const std::string& arg) {
    std::string_view name = arg;
    std::optional<std::string> inlineValue;
    if (auto eq = name.find('='); eq != std::string_view::npos) {
      inlineValue = std::string(name.substr(eq + 1));
      name = name.substr(0, eq);
    }
    auto flag = [&](bool& field) {
      if (inlineValue) {
        error_ = std::string(name) + " takes no value";
      } else {
        field = true;
      }
    };
    if (name == "--help" || name == "-h") {
      flag(opts_.help);
    } else if (name == "--version") {
      flag(opts_.version);
    } else if (name == "--json") {
      flag(opts_.json);
    } else if (name == "--yes" || name == "-y") {
      flag(opts_.yes);
    } else if (name == "--force") {
      flag(opts_.force);
    } else if (name == "--force-system-disk") {
      flag(opts_.forceSystemDisk);
    } else if (name == "--via") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (*value == "passthrough") {
        opts_.via = FirmwareVia::passThrough;
      } else if (*value == "system") {
        opts_.via = FirmwareVia::system;
      } else {
        error_ = "--via takes passthrough or system (got \"" + *value + "\")";
      }
    } else if (name == "--ask") {
      flag(opts_.ask);
    } else if (name == "--segment-blocks") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (*value == "auto") {
        opts_.segmentAuto = true;
        return;
      }
      // Two register bytes carry a segment's block count.
      auto blocks = ParseIndex(*value);
      if (!blocks || *blocks == 0 || *blocks > 0xFFFF) {
        error_ = "--segment-blocks takes auto or a number of blocks from 1 to 65535 (got \"" +
                 *value + "\")";
        return;
      }
      opts_.segmentBlocks = *blocks;
    } else if (name == "--slot") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (value->size() != 1 || (*value)[0] < '1' || (*value)[0] > '7') {
        error_ = "--slot takes a firmware slot from 1 to 7 (got \"" + *value + "\")";
        return;
      }
      opts_.slot = (*value)[0] - '0';
    } else if (name == "--activate") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (*value != "now" && *value != "reset") {
        error_ = "--activate takes now or reset (got \"" + *value + "\")";
        return;
      }
      opts_.activateNow = *value == "now";
    } else if (name == "--device") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (*value != "0" && *value != "1") {
        error_ = "--device must be 0 or 1 (got \"" + *value + "\")";
        return;
      }
      opts_.device = static_cast<std::uint8_t>(*value == "1");
    } else if (name == "--sat") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      opts_.sat = SatFormNamed(*value);
      if (!opts_.sat) error_ = "--sat must be one of 12-10, 12, 16 (got \"" + *value + "\")";
    } else if (name == "--record") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      if (value->empty()) {
        error_ = "--record= needs a file";
      } else {
        opts_.record = *value;
      }
    } else if (name == "--record-serial") {
      flag(opts_.recordSerial);
    } else if (name == "--sim") {
      // The bench file only follows "=", so "--sim list" stays unambiguous.
      opts_.sim = true;
      if (inlineValue) {
        if (inlineValue->empty()) {
          error_ = "--sim= needs a bench file";
        } else {
          opts_.benchFile = *inlineValue;
        }
      }
    } else if (name == "--trace") {
      // Like --sim, the file only follows "=".
      if (inlineValue && inlineValue->empty()) {
        error_ = "--trace= needs a file";
      } else {
        opts_.trace = inlineValue.value_or("");
      }
    } else if (name == "--drive" || name == "--channel" || name == "--port") {
      auto value = Value(name, inlineValue);
      if (value) SetTarget(name, *value);
    } else if (name == "--serial" || name == "--wwn") {
      auto value = Value(name, inlineValue);
      if (value) SetName(name, *value);
    } else if (name == "--mode") {
      auto value = Value(name, inlineValue);
      if (!value) return;
      auto mode = ParseHex(*value, 0xFF);
      if (!mode || !FindDlmcMode(static_cast<std::uint8_t>(*mode))) {
        error_ = "--mode must be one of 01, 03, 07, 0E, 0F (got \"" + *value + "\")";
        return;
      }
      opts_.mode = static_cast<std::uint8_t>(*mode);
    } else {
      error_ = "unknown option " + std::string(name);
    }
  }

  std::optional<std::string> Value(std::string_view name,
                                   const std::optional<std::string>& inlineValue) {
    if (inlineValue) return inlineValue;
    if (pos_ + 1 >= args_.size()) {
      error_ = std::string(name) + " needs a value";
      return std::nullopt;
    }
    return args_[++pos_];
  }

  // --serial and --wwn name one drive between them: it must report both.
  void SetName(std::string_view name, const std::string& value) {
    Target& t = opts_.target;
    if (t.kind != TargetKind::none && t.kind != TargetKind::named) {
      error_ = kOneTarget;
      return;
    }
    t.kind = TargetKind::named;
    if (name == "--wwn") {
      t.wwn = ParseWorldWideName(value);
      if (!t.wwn) error_ = "--wwn needs the 16 hexadecimal digits of a world wide name (got \"" + value + "\")";
      return;
    }
    const std::string_view serial = Trim(value);
    if (serial.empty()) {
      error_ = "--serial needs the serial number a drive reports";
    } else {
      t.serial = std::string(serial);
    }
  }

  void SetTarget(std::string_view name, const std::string& value) {
    if (opts_.target.kind != TargetKind::none) {
      error_ = kOneTarget;
      return;
    }
    if (name == "--port") {
      // Task-file ports are written in hexadecimal, with or without 0x. The
      // ports below 0x100 belong to the motherboard's own devices (DMA,
      // interrupt and timer chips); eight registers must fit below 0x10000.
      auto port = ParseHex(value, 0xFFFF);
      if (!port) {
        error_ = "--port needs a hexadecimal port such as 0x1F0 (got \"" + value + "\")";
      } else if (*port < 0x100 || *port > 0xFFF8) {
        error_ = "--port " + value + " is not a task-file base port (0x0100 to 0xFFF8)";
      } else {
        opts_.target.kind = TargetKind::port;
        opts_.target.value = *port;
      }
      return;
    }
    auto index = ParseIndex(value);
    if (!index) {
      error_ = std::string(name) + " needs a line number from `" +
               (name == "--drive" ? "list" : "scan") + "` (got \"" + value + "\")";
      return;
    }
    opts_.target.kind = name == "--drive" ? TargetKind::drive : TargetKind::channel;
    opts_.target.value = *index;
  }

  void Operand(const std::string& arg) {
    if (opts_.command == Command::none) {
      for (const auto& c : kCommands) {
        if (arg == c.word) opts_.command = c.command;
      }
      if (opts_.command == Command::none) error_ = "unknown command \"" + arg + "\"";
      return;
    }
    switch (opts_.command) {
      case Command::errorName: {
        auto code = ParseHex(arg, 0xFFFF);
        if (!code) {
          error_ = "\"" + arg + "\" is not a 16-bit hexadecimal code";
        } else {
          opts_.codes.push_back(static_cast<std::uint16_t>(*code));
        }
        return;
      }
      case Command::bench:
        if (arg == "reset") {
          opts_.command = Command::benchReset;
        } else if (arg == "image") {
          opts_.command = Command::benchImage;
        } else if (arg == "power-cycle") {
          opts_.command = Command::benchPowerCycle;
        } else {
          error_ = "bench takes reset, power-cycle or image (got \"" + arg + "\")";
        }
        return;
      case Command::benchImage:
        BenchImageOperand(arg);
        return;
      case Command::dlmc:
      case Command::dptm:
        if (!opts_.file) {
          opts_.file = arg;
          return;
        }
        break;
      default:
        break;
    }
    error_ = std::string("unexpected argument \"") + arg + "\" for " + CommandName(opts_.command);
  }

  // REVISION BLOCKS FILE, as the bench's drives check them.
  void BenchImageOperand(const std::string& arg) {
    if (opts_.imageRevision.empty()) {
      const bool printable =
          std::all_of(arg.begin(), arg.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
      if (arg.empty() || arg.size() > 8 || !printable || arg.back() == ' ') {
        error_ = "the REVISION of a bench image is 1 to 8 printable ASCII characters (got \"" +
                 arg + "\")";
      } else {
        opts_.imageRevision = arg;
      }
    } else if (opts_.imageBlocks == 0) {
      auto blocks = ParseIndex(arg);
      if (!blocks || *blocks == 0 || *blocks > 0xFFFF) {
        error_ = "the BLOCKS of a bench image are a number from 1 to 65535 (got \"" + arg + "\")";
      } else {
        opts_.imageBlocks = *blocks;
      }
    } else if (!opts_.file) {
      opts_.file = arg;
    } else {
      error_ = "unexpected argument \"" + arg + "\" for bench image";
    }
  }

  void Check() {
    const Command c = opts_.command;
    const bool needsTarget =
        c == Command::identify || c == Command::info || c == Command::dlmc || c == Command::dptm;
    const bool segmented = c == Command::dlmc && opts_.mode && DlmcModeUsesOffsets(*opts_.mode);
    if (c == Command::none) {
      error_ = "no command given";
    } else if (needsTarget && opts_.target.kind == TargetKind::none) {
      error_ = std::string(CommandName(c)) +
               " needs a target: --drive N, --channel N, --port 0xNNNN, --serial S or --wwn W";
    } else if (!needsTarget && opts_.target.kind != TargetKind::none) {
      error_ = std::string(CommandName(c)) + " takes no target";
    } else if (opts_.mode && c != Command::dlmc) {
      error_ = "--mode belongs to dlmc";
    } else if (c == Command::dlmc && !opts_.mode) {
      error_ = "dlmc needs --mode 01, 03, 07, 0E or 0F";
    } else if (c == Command::dlmc && *opts_.mode == 0x0F && opts_.file) {
      error_ = "dlmc --mode 0F activates the deferred firmware and takes no file";
    } else if ((c == Command::dlmc || c == Command::dptm) && !opts_.file &&
               !(c == Command::dlmc && *opts_.mode == 0x0F)) {
      error_ = std::string(CommandName(c)) + " needs a firmware FILE";
    } else if ((opts_.segmentBlocks || opts_.segmentAuto) && !segmented) {
      error_ = "--segment-blocks belongs to dlmc --mode 03 or 0E";
    } else if (opts_.device && opts_.target.kind != TargetKind::channel &&
               opts_.target.kind != TargetKind::port) {
      error_ = "--device belongs to --channel or --port";
    } else if (opts_.sat && !needsTarget) {
      error_ = "--sat belongs to a command with a target";
    } else if (opts_.record && !needsTarget) {
      error_ = "--record belongs to a command with a target";
    } else if (opts_.record && opts_.target.kind == TargetKind::named) {
      // The search reads every drive; a recording holds one.
      error_ = "--record takes --drive, --channel or --port: a recording holds one drive";
    } else if (opts_.recordSerial && !opts_.record) {
      error_ = "--record-serial belongs to --record";
    } else if (opts_.force && c != Command::dlmc && c != Command::dptm) {
      error_ = "--force belongs to dlmc and dptm";
    } else if (opts_.via != FirmwareVia::automatic &&
               !(c == Command::dlmc && (*opts_.mode == 0x0E || *opts_.mode == 0x0F))) {
      error_ = "--via belongs to dlmc --mode 0E or 0F";
    } else if (opts_.slot && !(c == Command::dlmc && *opts_.mode != 0x01)) {
      error_ = "--slot belongs to dlmc --mode 03, 07, 0E or 0F";
    } else if (opts_.activateNow && !(c == Command::dlmc && *opts_.mode != 0x01 &&
                                      *opts_.mode != 0x0E)) {
      error_ = "--activate belongs to dlmc --mode 03, 07 or 0F";
    } else if (opts_.forceSystemDisk && c != Command::dlmc) {
      error_ = "--force-system-disk belongs to dlmc";
    } else if (opts_.forceSystemDisk && !opts_.force) {
      error_ = "--force-system-disk goes with --force: the disk the system runs from is in use";
    } else if (c == Command::bench) {
      error_ = "bench needs reset, power-cycle or image REVISION BLOCKS FILE";
    } else if (c == Command::benchImage && !opts_.file) {
      error_ = "bench image needs REVISION BLOCKS FILE";
    } else if (c == Command::errorName && opts_.codes.empty()) {
      error_ = "error-name needs at least one CODE";
    }
  }

  const std::vector<std::string>& args_;
  std::size_t pos_ = 0;
  bool optionsEnded_ = false;
  CliOptions opts_;
  std::string error_;
};

}  // namespace

ParseResult ParseArgs(const std::vector<std::string>& args) {
  return Parser(args).Run();
}

const char* CommandName(Command command) {
  for (const auto& c : kCommands) {
    if (c.command == command) return c.word.data();
  }
  return "";
}

bool DlmcModeIsLasting(std::uint8_t mode) {
  const DlmcMode* row = FindDlmcMode(mode);
  return row && !row->lastingEffect.empty();
}

std::string UsageText() {
  return R"(Usage: brisquel-cli [OPTIONS] COMMAND [ARGUMENTS]

Reads the identity of ATA/SATA drives and updates their firmware.

Commands:
  list                            the physical drives (API mode): index, bus type, name, path
  inventory                       every drive of `list` with what its IDENTIFY data says, or why
                                  it could not be read (sends IDENTIFY only; changes nothing)
  scan                            the IDE/SATA controller channels of a PCI scan (PIO mode)
  identify TARGET                 the drive's model, firmware revision and serial number
  info TARGET                     what the drive's IDENTIFY data says: names, capacity, the
                                  transport, DOWNLOAD MICROCODE and SMART support (changes nothing)
  dlmc TARGET --mode MODE [FILE]  DOWNLOAD MICROCODE: 01 temporary, 03 segmented,
                                  07 permanent, 0E deferred, 0F activate deferred (no FILE)
  dptm TARGET FILE                the vendor download over SMART logs
  error-name CODE...              the names of vendor status codes (hexadecimal)
  bench reset                     the simulated bench forgets its drives' firmware
                                  (the default bench, or the one --sim=BENCHFILE names)
  bench image REVISION BLOCKS FILE  write a firmware image the bench's drives accept:
                                  revision up to 8 characters, 1 to 65535 blocks of 512 bytes
  bench power-cycle               the bench's drives lose power and start again: what waits
                                  for a reset runs, temporary firmware is gone

Targets:
  --drive N        line N of `list`
  --channel N      line N of `scan`
  --port 0xNNNN    the PIO channel at this task-file base port
  --device 0|1     with --channel or --port: the channel's first device (0, the default) or
                   its second (1)
  --serial S       the one drive of `list` that reports serial number S
  --wwn W          the one drive of `list` that reports world wide name W (16 hex digits);
                   with --serial, it must report both. None or several: refused, nothing sent

Options:
  --sim[=BENCHFILE]  run on the simulated bench (the default bench, or the one the file
                     describes); the bench's drives remember their firmware between runs
  --json             print one JSON document with the results and the log lines
  --yes, -y          do not ask before a lasting download (modes 03, 07, 0E, 0F, dptm)
  --ask              ask before a lasting download on the bench too, as on a real drive
  --force            send although the checks before a download refuse: a drive that says it
                     does not support the mode, IDENTIFY unreadable or not valid, no split of
                     the image within the drive's segment limits, a disk in use; on NVMe also
                     no firmware commands listed, a read-only or missing slot, an unreadable
                     slot log, --activate now where the controller says it cannot
  --force-system-disk  with --force: let modes 01, 03, 07 and 0F switch the firmware of the disk
                     the running system is on, which --force alone refuses (safe: 0E then a
                     power cycle, or on Windows 0E then 0F through its firmware interface; on
                     NVMe only --activate now asks, and activation at the next reset is safe)
  --via passthrough|system  modes 0E and 0F: through ATA pass-through, or through Windows'
                     firmware interface, which tells the storage stack (by default the
                     interface where the disk's driver offers it and the image fits it)
  --segment-blocks N|auto  the largest segment of modes 03 and 0E (default 64), cut to the drive's
                     and the transport's limits; auto takes the largest both allow
  --slot N           NVMe: the firmware slot to write (03, 07, 0E) or activate (0F); by default
                     the lowest writable slot that is not the active one
  --activate now|reset  NVMe, modes 03, 07 and 0F: run the new firmware now, without a reset,
                     where the controller can; by default (reset) at the next reset, which is
                     yours to make (a power cycle)
  --trace[=FILE]     write every command to the drive as it goes out and comes back, one
                     line each, on stderr or to FILE (for a report about a drive or bridge)
  --sat 12-10|12|16  the ATA PASS-THROUGH form for a USB drive: 12-byte sent as 10 bytes,
                     12-byte, or 16-byte (by default the first its bridge answers)
  --record=FILE      write every command to the drive and its answer to FILE (replaced), a
                     recording that --sim=FILE plays back as the drive (to attach to a report)
  --record-serial    keep the serial number and world wide name in the recording
  --help, -h         this text
  --version          the program's version

Exit codes: 0 success, 1 the drive reported failure, 2 bad usage or input refused,
3 interrupted (Ctrl-C; a second Ctrl-C exits at once), 4 the download completed but the
firmware revision did not change where it should have (re-flashing the same revision gives it too),
5 the download completed but the revision could not be read back: check it after a power cycle.
)";
}

}  // namespace brisquel::cli
