#include "app/cli/Cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "app/Backend.h"
#include "app/BenchState.h"
#include "app/cli/CliArgs.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Json.h"
#include "app/cli/ProgressBar.h"
#include "app/cli/Trace.h"
#include "discovery/PciScan.h"
#include "discovery/uSetupApiEnum.h"
#include "ops/DlmcModes.h"
#include "ops/DownloadCheck.h"
#include "ops/DriveCapabilities.h"
#include "ops/ErrorCodeNames.h"
#include "ops/FirmwareFile.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "ops/UpdateProcedure.h"
#include "sim/AtaDrive.h"
#include "sim/Replay.h"
#include "transport/CommandRecorder.h"
#include "transport/RecordingDeviceIo.h"
#include "transport/SatForms.h"
#include "transport/Utf8Path.h"
#include "transport/uAtaPass.h"
#include "ui/ProgramState.h"
#include "ui/TargetSelection.h"
#include "ui/Terminal.h"

namespace brisquel::cli {

namespace {

constexpr const char* kProgram = "brisquel-cli";

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// Everything the run prints: log lines on stdout as they come (or gathered for
// the JSON document), problems on stderr.
class Reporter {
 public:
  Reporter(bool json, ProgressBar& bar) : json_(json), bar_(bar) {}

  bool Json() const { return json_; }

  void Log(const std::string& line) {
    log_.push_back(line);
    if (json_) return;
    bar_.Finish();  // the bar stays above the line that ends its transfer
    Out(line + '\n');
  }

  // A result line of list, scan or error-name (text mode only).
  void Print(const std::string& line) {
    if (!json_) Out(line + '\n');
  }

  // Everything on stdout goes through here, so that a write that fails (a
  // full disk, a closed pipe) is told on stderr once the run has ended.
  void Out(const std::string& text) {
    if (outError_) return;
    errno = 0;
    std::cout << text << std::flush;
    if (!std::cout) outError_ = errno ? errno : EIO;
  }
  // Says so on stderr when stdout lost anything; the run's exit code stands.
  void CheckOutput(int exitCode) {
    if (!outError_) return;
    std::cerr << kProgram << ": cannot write to standard output: "
              << std::generic_category().message(outError_) << " (what ran ended with exit code "
              << exitCode << ", which stands)\n";
  }

  void Problem(const std::string& text) {
    problems_.push_back(text);
    bar_.Finish();
    std::cerr << kProgram << ": " << text << '\n' << std::flush;
  }

  // Worth saying, but the run goes on as if it had not happened.
  void Warning(const std::string& text) { Say("warning: " + text); }
  // What the run found out besides the log lines (the checks around a download).
  void Note(const std::string& text) { Say(text); }

  const std::vector<std::string>& LogLines() const { return log_; }
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  void Say(const std::string& text) {
    bar_.Finish();
    std::cerr << kProgram << ": " << text << '\n' << std::flush;
  }

  bool json_;
  ProgressBar& bar_;
  int outError_ = 0;
  std::vector<std::string> log_;
  std::vector<std::string> problems_;
};

const char* const kRightsHint =
    " (administrator rights are needed: run it as root, e.g. with sudo)";

// A drive that would not open, in one line with the system's reason; a refusal
// to a user without administrator rights also says how to get them.
std::string OpenFailure(const std::string& description, DeviceIo& io, bool administrator) {
  const std::uint32_t error = io.GetLastError();
  std::string reason = TrimSystemMessage(io.SystemMessageText(error));
  if (reason.empty()) reason = "system error " + std::to_string(error);
  std::string line = "cannot open " + description + ": " + reason;
  if (error == win32::ERROR_ACCESS_DENIED_ && !administrator) line += kRightsHint;
  return line;
}

// Whether two names reach one file: the same file where both exist, else the
// same place once made absolute.
bool SameFile(const std::string& a, const std::string& b) {
  const std::filesystem::path pa = PathFromUtf8(a), pb = PathFromUtf8(b);
  std::error_code ec;
  if (std::filesystem::equivalent(pa, pb, ec)) return true;
  const std::filesystem::path ca = std::filesystem::weakly_canonical(pa, ec);
  if (ec) return false;
  const std::filesystem::path cb = std::filesystem::weakly_canonical(pb, ec);
  return !ec && ca == cb;
}

// --trace=FILE and --record=FILE write their files as the run goes: never one
// the run reads (the firmware image, the bench or recording it runs on), nor
// each other's. Empty when they are apart.
std::string WrittenOverRead(const CliOptions& o) {
  struct Named {
    std::string what;
    std::string file;
  };
  std::vector<Named> written, read;
  if (o.trace && !o.trace->empty()) written.push_back({"--trace", *o.trace});
  if (o.record) written.push_back({"--record", *o.record});
  if (o.file) read.push_back({"the firmware file", *o.file});
  if (o.benchFile) read.push_back({"the file --sim runs on", *o.benchFile});
  for (const Named& w : written) {
    for (const Named& r : read) {
      if (SameFile(w.file, r.file)) {
        return w.what + "=" + w.file + " is " + r.what +
               ": it would be written over; name another file";
      }
    }
  }
  if (written.size() == 2 && SameFile(written[0].file, written[1].file)) {
    return "--trace and --record name one file, " + written[1].file + ": name two files";
  }
  return {};
}

// The operations' host on a terminal: the log goes to the reporter, the file
// dialog answers with the FILE argument, a Ctrl-C is Break at the next pump,
// and the firmware progress draws the bar.
class CliHost : public OperationHost {
 public:
  CliHost(Reporter& reporter, ProgressBar& bar, const CliOptions& options, bool& breakFlag)
      : reporter_(reporter), bar_(bar), options_(options), breakFlag_(breakFlag) {}

  void PumpMessages() override {
    // Every pump after a Ctrl-C is a click on Break: operations clear the
    // flag when they start, and the press must still stop them.
    if (InterruptCount() > 0) breakFlag_ = true;
  }
  bool KeyHeld(Key) override { return false; }
  void LogLine(const std::string& text) override { reporter_.Log(text); }
  std::optional<std::string> OpenFirmwareDialog() override { return options_.file; }
  void SetOperationButtonsEnabled(bool) override {}
  void FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) override {
    const bool vendor = options_.command == Command::dptm;
    bar_.Update(sent, toSend, CountedUnit(vendor ? kVendorDownloadMode : options_.mode.value_or(0)));
  }

 private:
  Reporter& reporter_;
  ProgressBar& bar_;
  const CliOptions& options_;
  bool& breakFlag_;
};

// Counts the commands that went out, so that a run ended by something
// unforeseen can say whether the drive was touched; each is passed on to the
// trace, when there is one.
class SentCommands : public CommandObserver {
 public:
  SentCommands(int& count, CommandObserver* next) : count_(count), next_(next) {}
  void CommandStarting(const DriveTarget& target, const AtaCommand& command) override {
    ++count_;
    if (next_) next_->CommandStarting(target, command);
  }
  void CommandEnded(const DriveTarget& target, const AtaCommand& command,
                    const CommandReturn& back) override {
    if (next_) next_->CommandEnded(target, command, back);
  }

 private:
  int& count_;
  CommandObserver* next_;
};

struct DriveRow {
  int index = 0;
  std::string busType, name, path;
};

struct ChannelRow {
  int index = 0;
  std::string line;
  std::uint32_t basePort = 0, controlPort = 0;
};

// What the target stands for, for the consent question and the JSON document.
struct TargetInfo {
  std::string description;
  std::optional<DriveRow> drive;
  std::optional<ChannelRow> channel;
  std::optional<std::uint16_t> port;
};

class Session {
 public:
  Session(const CliOptions& options, Reporter& reporter, ProgressBar& bar,
          std::filesystem::path programDir)
      : options_(options), reporter_(reporter), bar_(bar), programDir_(std::move(programDir)) {}

  int Execute();
  void WriteJson(JsonWriter& json, int exitCode) const;
  bool CommandsSent() const { return commandsSent_ > 0; }

 private:
  // The records, the backend's interfaces and the host an operation runs with.
  struct Bench {
    ProgramState& state;
    PortLibrary& ports;
    DeviceIo& io;
    DiskEnumerator& disks;
    CliHost& host;
    CommandObserver* trace;  // every command passes it, the trace's or not
    Backend& backend;
    CommandRecorder* recorder;  // --record
  };

  int ErrorNames();
  int BenchReset();
  int BenchImage();
  bool CheckFirmwareFile();
  int RunOnBackend(Backend& backend);
  void ReadDrives(Bench& b);
  void ReadChannels(Bench& b);
  int List(Bench& b);
  int Scan(Bench& b);
  int Operate(Bench& b);
  std::optional<int> ResolveTarget(Bench& b);
  bool Select(Bench& b);
  bool NeedsConsent() const;
  bool RefusedPortIo();
  bool Lasting() const;
  int Info(Bench& b);
  int Update(Bench& b);
  int Verified(const UpdateReport& report, int code);
  // How to get the rights a refused command lacked, when it lacked them.
  std::string RightsHint(const CommandResult& command) const {
    const bool denied = command.end == CommandEnd::systemRefused &&
                        command.systemError == win32::ERROR_ACCESS_DENIED_;
    return denied && !administrator_ ? kRightsHint : "";
  }
  bool Interrupted(const ProgramState& state) const {
    return InterruptCount() > 0 && state.BreakFlag;
  }

  const CliOptions& options_;
  Reporter& reporter_;
  ProgressBar& bar_;
  std::filesystem::path programDir_;
  int commandsSent_ = 0;

  std::uintmax_t fileSize_ = 0;
  std::vector<DriveRow> drives_;
  std::vector<ChannelRow> channels_;
  std::optional<TargetInfo> target_;
  std::optional<IdentifyOutcome> identity_;
  std::optional<DownloadOutcome> download_;
  std::optional<bool> activated_;
  bool administrator_ = true;
  std::optional<std::string> portRefusal_;

  std::optional<DriveCapabilities> capabilities_;  // info
  std::string transport_;
  std::string satForm_;  // info on a USB drive: the command block form it answers
  // info on Windows: what the disk's driver said of its firmware interface.
  std::optional<FirmwareInterfaceInfo> firmwareInterface_;
  std::string firmwareInterfaceLine_;
  // A download: what the update procedure found and did, and what the count
  // register said of its segments.
  std::optional<UpdateReport> update_;
  std::string segmentReport_;

  friend class CliQuestions;
};

// Without port I/O a PCI scan finds nothing and a PIO wait never ends: say why
// instead.
bool Session::RefusedPortIo() {
  if (portRefusal_) reporter_.Problem(*portRefusal_);
  return portRefusal_.has_value();
}

int Session::Execute() {
  if (options_.command == Command::errorName) return ErrorNames();
  if (options_.command == Command::benchReset) return BenchReset();
  if (options_.command == Command::benchImage) return BenchImage();
  if (const std::string clash = WrittenOverRead(options_); !clash.empty()) {
    reporter_.Problem(clash);
    return kExitRefused;
  }
  // A file that would be refused is refused before any drive is touched.
  if (options_.file && !CheckFirmwareFile()) return kExitRefused;

  // Without a terminal nobody can be asked: refuse before any hardware is touched.
  if (NeedsConsent() && !StdinIsTerminal()) {
    reporter_.Problem(
        "refusing a lasting firmware download to a real drive without consent: run it from a "
        "terminal to be asked, or add --yes");
    return kExitRefused;
  }

  BackendLoad load = MakeBackend({options_.sim, options_.benchFile});
  if (!load.backend) {
    reporter_.Problem(load.problem);
    return kExitRefused;
  }
  std::unique_ptr<Backend> backend = std::move(load.backend);

  // The bench remembers its drives' firmware between runs.
  BenchMemory memory(*backend, options_.benchFile);
  if (!memory.LoadProblem().empty()) reporter_.Warning(memory.LoadProblem());

  const int code = RunOnBackend(*backend);

  // Only a download changes what the drives remember; a damaged file is
  // replaced by the bench as described, so that it warns once.
  const bool downloaded = options_.command == Command::dlmc || options_.command == Command::dptm;
  if (downloaded || memory.Damaged()) {
    if (const std::string problem = memory.Save(); !problem.empty()) reporter_.Warning(problem);
  }
  return code;
}

int Session::ErrorNames() {
  for (std::uint16_t code : options_.codes)
    reporter_.Print(Hex(code, 4) + "\t" + ErrorCodeName(code));
  return kExitOk;
}

int Session::BenchReset() {
  const std::optional<std::filesystem::path> dir = StateDirectory();
  if (!dir) {
    reporter_.Problem("no state directory (HOME is not set): the bench remembers nothing");
    return kExitRefused;
  }
  const std::filesystem::path file = *dir / BenchStateFileName(options_.benchFile);
  std::error_code ec;
  if (!std::filesystem::remove(file, ec)) {
    if (ec) {
      reporter_.Problem("cannot remove " + Utf8Of(file) + ": " + ec.message());
      return kExitRefused;
    }
    reporter_.Print("The bench remembers nothing yet: it starts as described (" + Utf8Of(file) +
                    " does not exist)");
    return kExitOk;
  }
  reporter_.Print("The bench starts as described again: " + Utf8Of(file) + " removed");
  return kExitOk;
}

int Session::BenchImage() {
  const std::vector<std::uint8_t> image =
      sim::MakeBenchFirmware(options_.imageRevision, options_.imageBlocks);
  std::ofstream out(PathFromUtf8(*options_.file), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    reporter_.Problem(*options_.file +
                      ": cannot write the image there: " + std::generic_category().message(errno));
    return kExitRefused;
  }
  reporter_.Print("Wrote " + *options_.file + ": bench firmware " + options_.imageRevision + ", " +
                  std::to_string(options_.imageBlocks) + " blocks (" +
                  std::to_string(image.size()) + " bytes)");
  return kExitOk;
}

bool Session::CheckFirmwareFile() {
  const FirmwareFile file = LoadFirmwareFile(*options_.file, kDlmcMaxImageBytes);
  switch (file.outcome) {
    case FirmwareFile::Outcome::loaded:
      if (file.size == 0) {
        reporter_.Problem(*options_.file + ": the file is empty; there is nothing to send");
        return false;
      }
      fileSize_ = file.size;
      return true;
    case FirmwareFile::Outcome::tooLarge:
      reporter_.Problem(*options_.file + ": " + std::to_string(file.size) +
                        " bytes is more than a download can carry (" +
                        std::to_string(kDlmcMaxImageBytes) + " bytes)");
      return false;
    case FirmwareFile::Outcome::unreadable:
      break;
  }
  reporter_.Problem(*options_.file + ": cannot read the firmware file: " + file.problem);
  return false;
}

int Session::RunOnBackend(Backend& backend) {
  auto state = std::make_unique<ProgramState>();
  CliHost host(reporter_, bar_, options_, state->BreakFlag);
  backend.SetNoticeSink([this](const std::string& text) { reporter_.Log(text); });
  // --trace: on stderr, or appended to its file.
  std::ofstream traceFile;
  std::optional<CommandTrace> trace;
  if (options_.trace) {
    if (!options_.trace->empty()) {
      traceFile.open(PathFromUtf8(*options_.trace), std::ios::app);
      if (!traceFile) {
        reporter_.Problem(*options_.trace + ": cannot write the trace there");
        return kExitRefused;
      }
    }
    trace.emplace(options_.trace->empty() ? std::cerr : traceFile, backend.Io());
  }
  // --record: the file is replaced.
  std::ofstream recordFile;
  std::optional<CommandRecorder> recorder;
  if (options_.record) {
    recordFile.open(PathFromUtf8(*options_.record), std::ios::trunc | std::ios::binary);
    if (!recordFile) {
      reporter_.Problem(*options_.record + ": cannot write the recording there");
      return kExitRefused;
    }
    recorder.emplace(recordFile, options_.recordSerial, trace ? &*trace : nullptr);
  }
  std::optional<RecordingDeviceIo> recordingIo;
  if (recorder) recordingIo.emplace(backend.Io(), *recorder);
  DeviceIo& io = recordingIo ? static_cast<DeviceIo&>(*recordingIo) : backend.Io();
  CommandObserver* watching = recorder ? static_cast<CommandObserver*>(&*recorder)
                                       : (trace ? &*trace : nullptr);
  SentCommands sent(commandsSent_, watching);
  Bench b{*state, backend.Ports(), io, backend.Disks(), host, &sent, backend,
          recorder ? &*recorder : nullptr};
  // The driver library is started once, as the window does at start-up.
  b.ports.InitializeOls();
  administrator_ = backend.System().HasAdministratorRights();
  if (const std::string problem = backend.PortAccessProblem(); !problem.empty()) {
    // Status 2 ("Driver not loaded") is a refusal that rights would lift; 1
    // ("Unsupported Platform") means no port I/O at all.
    const bool rightsWouldHelp = !administrator_ && b.ports.GetDllStatus() == 2;
    portRefusal_ = "PIO mode needs port I/O, which the system refused: " + problem +
                   (rightsWouldHelp ? kRightsHint : "");
  }

  OperationRunning running;
  int code = kExitOk;
  switch (options_.command) {
    case Command::list:
      code = List(b);
      break;
    case Command::scan:
      code = Scan(b);
      break;
    default:
      code = Operate(b);
      break;
  }
  if (traceFile.is_open() && trace->WriteError()) {
    reporter_.Problem(*options_.trace + ": the trace could not be written whole (" +
                      std::generic_category().message(trace->WriteError()) +
                      "); the exit code is the operation's");
  }
  return code;
}

void Session::ReadDrives(Bench& b) {
  const int n = std::clamp(EnumeratePhysicalDrives(b.disks, b.state), 0,
                           static_cast<int>(b.state.DriveTable.size()));
  drives_.clear();
  for (int i = 0; i < n; ++i) {
    const TST_PhysicalDrive& d = b.state.DriveTable[static_cast<std::size_t>(i)];
    drives_.push_back({i, BusTypeName(d.BusType), d.DisplayName, d.DevicePath});
  }
}

void Session::ReadChannels(Bench& b) {
  ScanPciControllers({b.state, b.state.BreakFlag, b.ports, b.host, programDir_});
  const std::size_t count =
      std::min<std::size_t>(b.state.PciScanCount, b.state.PciScanTable.size());
  channels_.clear();
  for (std::size_t i = 0; i < count; ++i) {
    const PCIDevDesc& entry = b.state.PciScanTable[i];
    channels_.push_back(
        {static_cast<int>(i), PioLineText(entry), entry.basePort, entry.controlPort});
  }
}

int Session::List(Bench& b) {
  ReadDrives(b);
  for (const DriveRow& row : drives_) {
    reporter_.Print(std::to_string(row.index) + "\t" + row.busType + "\t" + row.name + "\t" +
                    row.path);
  }
  // An empty answer is still an answer, but not one to leave unexplained.
  if (drives_.empty()) {
    reporter_.Note(b.backend.Bench() ? "no drives found: the bench describes no disk"
                   : administrator_
                       ? "no drives found: the system lists no disk that Brisquel can address"
                       : std::string("no drives found: without administrator rights the system "
                                     "may show none") +
                             kRightsHint);
  }
  return kExitOk;
}

int Session::Scan(Bench& b) {
  if (RefusedPortIo()) return kExitRefused;
  ReadChannels(b);
  for (const ChannelRow& row : channels_) {
    reporter_.Print(std::to_string(row.index) + "\t" + row.line);
  }
  if (channels_.empty() && !Interrupted(b.state)) {
    reporter_.Note(b.backend.Bench()
                       ? "no controller channels found: the bench describes no IDE controller"
                       : "no controller channels found: no PCI storage controller here offers "
                         "IDE task-file ports (one in AHCI mode has none; `list` shows its drives)");
  }
  // Break stops the scan where it is; what it found is still listed.
  return Interrupted(b.state) ? kExitInterrupted : kExitOk;
}

std::optional<int> Session::ResolveTarget(Bench& b) {
  const Target& t = options_.target;
  TargetInfo info;
  if (t.kind == TargetKind::port) {
    info.port = static_cast<std::uint16_t>(t.value);
    info.description = std::string(options_.device == 1 ? "device 1" : "the drive") +
                       " on the PIO channel at port 0x" + Hex(t.value, 4);
    target_ = info;
    return std::nullopt;
  }
  if (t.kind == TargetKind::drive) {
    ReadDrives(b);
  } else {
    ReadChannels(b);
  }
  const std::size_t lines = t.kind == TargetKind::drive ? drives_.size() : channels_.size();
  if (t.kind == TargetKind::channel && Interrupted(b.state)) {
    reporter_.Problem("interrupted during the PCI scan");
    return kExitInterrupted;
  }
  const char* listCommand = t.kind == TargetKind::drive ? "list" : "scan";
  if (t.value >= lines) {
    reporter_.Problem("no line " + std::to_string(t.value) + " in `" + listCommand + "` (it has " +
                      std::to_string(lines) + ")");
    return kExitRefused;
  }
  const int index = static_cast<int>(t.value);
  if (t.kind == TargetKind::drive) {
    info.drive = drives_[t.value];
    info.description = "\"" + info.drive->name + "\" (--drive " + std::to_string(index) + ", " +
                       info.drive->path + ")";
  } else {
    info.channel = channels_[t.value];
    info.description =
        std::string(options_.device == 1 ? "device 1" : "the drive") + " on \"" +
        info.channel->line + "\" (--channel " + std::to_string(index) +
        (options_.device == 1 ? ", --device 1)" : ")");
    // A channel whose base register reads zero (or another motherboard port)
    // would have its "device register" written among the DMA and interrupt
    // controllers.
    if ((info.channel->basePort & 0xFFFF) < kLowestTaskFilePort) {
      target_ = info;
      reporter_.Problem("channel " + std::to_string(index) + " has no usable task-file port (" +
                        Hex(info.channel->basePort & 0xFFFF, 4) + ")");
      return kExitRefused;
    }
  }
  target_ = info;
  return std::nullopt;
}

// Selects the target as a click on its line would (the "Bus Type:" line
// included), or the PIO channel a port names.
bool Session::Select(Bench& b) {
  Selected selected;
  if (target_->drive) {
    const TST_PhysicalDrive& drive =
        b.state.DriveTable[static_cast<std::size_t>(target_->drive->index)];
    if (b.recorder) b.recorder->Target({.busType = drive.BusType, .maxTransfer = drive.MaxTransferLength});
    TransportContext t{b.state, b.ports, b.io, b.host, b.trace};
    selected = SelectDriveTarget(t, drive, options_.sat);
  } else {
    const std::uint32_t port = target_->port ? *target_->port : target_->channel->basePort;
    if (b.recorder) {
      b.recorder->Target({.channel = true,
                          .basePort = static_cast<std::uint16_t>(port),
                          .device1 = options_.device == 1});
    }
    selected = SelectChannelTarget(b.state, b.ports, b.host, port, options_.device == 1);
  }
  if (selected == Selected::ready) return true;
  reporter_.Problem(selected == Selected::openFailed
                        ? OpenFailure(target_->description, b.io, administrator_)
                        : "cannot select " + target_->description);
  return false;
}

bool Session::Lasting() const {
  return options_.command == Command::dptm ||
         (options_.command == Command::dlmc && DlmcModeIsLasting(*options_.mode));
}

bool Session::NeedsConsent() const {
  return Lasting() && (!options_.sim || options_.ask) && !options_.yes;
}

const char* TransportName(TransportKind kind) {
  switch (kind) {
    case TransportKind::ataPassThrough:
      return "ATA pass-through";
    case TransportKind::scsiPassThrough:
      return "SCSI pass-through (SAT)";
    case TransportKind::pio:
      break;
  }
  return "PIO";
}

int Session::Info(Bench& b) {
  TransportContext t{b.state, b.ports, b.io, b.host, b.trace};
  identity_ = ReadIdentity(t);
  if (!identity_->command) {
    reporter_.Problem(IdentifyFailureLine(*identity_) + RightsHint(identity_->command));
    return kExitDriveFailure;
  }
  if (!identity_->Answered()) {
    reporter_.Problem(ValidityText(identity_->validity));
    return kExitDriveFailure;
  }
  if (identity_->validity != IdentifyValidity::valid) {
    reporter_.Warning(ValidityText(identity_->validity));
  }
  capabilities_ = CapabilitiesOf(std::span(identity_->sector).first<kSectorSize>());
  const DriveCapabilities& c = *capabilities_;
  transport_ = TransportName(b.state.DriveTarget.kind);
  const auto blocks = [](std::optional<std::uint16_t> v) {
    return v ? std::to_string(*v) : std::string("not said");
  };
  char capacity[32];
  std::snprintf(capacity, sizeof capacity, "%.1f GB",
                static_cast<double>(c.sectors) * kSectorSize / 1e9);
  const std::pair<const char*, std::string> rows[] = {
      {"model", identity_->model},
      {"firmware", identity_->firmware},
      {"serial", identity_->serial},
      {"sectors", std::to_string(c.sectors)},
      {"capacity", capacity},
      {"transport", transport_},
      {"dlmc-supported", SaidName(c.dlmcSupported)},
      {"dlmc-enabled", SaidName(c.dlmcEnabled)},
      {"dlmc-offsets-supported", SaidName(c.offsetsSupported)},
      {"dlmc-offsets-enabled", SaidName(c.offsetsEnabled)},
      {"segment-min-blocks", blocks(c.segmentMin)},
      {"segment-max-blocks", blocks(c.segmentMax)},
      {"smart-supported", SaidName(c.smartSupported)},
      {"smart-enabled", SaidName(c.smartEnabled)},
  };
  for (const auto& [key, value] : rows) reporter_.Print(std::string(key) + "\t" + value);
  const DriveTarget& target = b.state.DriveTarget;
  if (target.kind == TransportKind::scsiPassThrough) {
    satForm_ = target.satFormFound == SatFormFound::refused ? "none"
                                                             : SatFormName(TargetSatForm(target));
    reporter_.Print("sat-form\t" + satForm_);
  }
  if (b.io.HasFirmwareInterface()) {
    firmwareInterface_ = b.state.FirmwareInterface;
    firmwareInterfaceLine_ = FirmwareInterfaceSummary(*firmwareInterface_, target.kind, b.io);
    reporter_.Print("system-firmware-interface\t" + firmwareInterfaceLine_);
  }
  return kExitOk;
}

// The update procedure's questions on a terminal: a refusing check stands
// unless --force, and a lasting download asks for consent (unless --yes or the
// bench) once the checks have found what they found.
class CliQuestions : public UpdateQuestions {
 public:
  CliQuestions(const CliOptions& options, Reporter& reporter, const Session& session)
      : options_(options), reporter_(reporter), session_(session) {}

  bool SendAnyway(const std::vector<std::string>& why) override {
    for (const std::string& reason : why) {
      options_.force ? reporter_.Warning(reason + "; sending anyway (--force)")
                     : reporter_.Problem("refused: " + reason + " (--force sends anyway)");
    }
    return options_.force;
  }

  bool SendToSystemDisk(const std::string& why) override {
    options_.forceSystemDisk
        ? reporter_.Warning(why + "; sending anyway (--force-system-disk)")
        : reporter_.Problem("refused: " + why + " (--force-system-disk sends anyway)");
    return options_.forceSystemDisk;
  }

  bool GoAhead(const UpdateReport& sofar) override {
    if (!session_.NeedsConsent()) return true;
    // A Ctrl-C before the question stops here; one during it ends the
    // program, as nothing has been sent that Break would have to stop.
    if (InterruptCount() > 0) return false;
    const OperationPaused paused;
    std::cerr << ConsentQuestion(sofar) << "Go on? Type \"yes\": " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "yes" || answer == "YES") return true;
    reporter_.Problem("not confirmed; nothing was sent");
    return false;
  }

 private:
  std::string ConsentQuestion(const UpdateReport& sofar) const {
    const std::string what =
        options_.command == Command::dptm
            ? "replace the drive's firmware through its vendor channel (DPTM)"
            : std::string(FindDlmcMode(*options_.mode)->lastingEffect);
    std::string question = "This will " + what + "\n  drive: " + session_.target_->description + "\n";
    if (sofar.before.Answered()) {
      question += "  model: " + sofar.before.model + ", serial " + sofar.before.serial +
                  ", firmware " + sofar.before.firmware + "\n";
    }
    if (options_.file) {
      question += "  file:  " + *options_.file + " (" + std::to_string(session_.fileSize_) +
                  " bytes)\n";
    }
    return question;
  }

  const CliOptions& options_;
  Reporter& reporter_;
  const Session& session_;
};

int Session::Update(Bench& b) {
  UpdateRequest request;
  if (options_.command == Command::dptm) {
    request.kind = UpdateRequest::Kind::vendor;
  } else {
    request.mode = options_.mode;
    request.segments = {options_.segmentBlocks, options_.segmentAuto};
    request.via = options_.via;
  }
  if (target_->drive) {
    const TST_PhysicalDrive& d =
        b.state.DriveTable[static_cast<std::size_t>(target_->drive->index)];
    request.devicePath = d.DevicePath;
    request.queueBytes = d.MaxTransferLength;
  }
  OperationContext ctx(b.state, b.ports, b.io, b.host, b.trace);
  CliQuestions questions(options_, reporter_, *this);
  UpdateContext update{ctx, questions, b.backend.Users(), b.backend.Clock()};
  update_ = RunUpdate(update, request);
  bar_.Finish();
  const UpdateReport& report = *update_;
  const DownloadOutcome& outcome = report.download;

  if (report.segments && (options_.segmentBlocks || options_.segmentAuto || report.segments->even ||
                          report.segments->largest != kDlmcSegmentBlocks)) {
    reporter_.Note("segments of " + std::to_string(report.segments->largest) + " blocks (" +
                   report.segments->why + ")");
  }
  if (Interrupted(b.state)) {
    // What was sent before Ctrl-C stays said.
    if (report.stage >= UpdateReport::Stage::send && options_.mode != kDlmcActivate) {
      download_ = outcome;
    }
    reporter_.Problem("interrupted");
    return kExitInterrupted;
  }
  if (report.stage == UpdateReport::Stage::identify) {
    if (options_.file) {
      // Nothing was sent, but a download of this file was asked for: its
      // line closes it, as it would have closed it after the first command.
      DownloadOutcome failed = outcome;
      failed.file = FileNameOf(*options_.file);
      failed.toSend = static_cast<std::uint32_t>((fileSize_ + kSectorSize - 1) / kSectorSize);
      download_ = failed;
      reporter_.Log(ClosingLine(failed));
    }
    reporter_.Problem("cannot read the drive's IDENTIFY data: " + outcome.what +
                      RightsHint(report.before.command));
    return ExitCodeOf(outcome);
  }
  if (!report.interfaceRefusal.empty()) reporter_.Problem("refused: " + report.interfaceRefusal);
  if (report.Declined()) return kExitRefused;
  if (options_.mode == kDlmcActivate) {
    // Activation writes no log line; the outcome is said here.
    activated_ = outcome.Completed();
    if (*activated_) {
      reporter_.Print("Activate Microcode - End - OK");
    } else {
      reporter_.Problem("the drive did not activate the deferred firmware: " + outcome.what);
    }
  } else {
    download_ = outcome;
  }
  return Verified(report, ExitCodeOf(outcome));
}

int Session::Verified(const UpdateReport& report, int code) {
  if (!report.verified) return code;
  const DownloadOutcome& outcome = report.download;
  segmentReport_ = SegmentAnswerReport(outcome);
  if (!segmentReport_.empty()) {
    SegmentAnswerIsSuspect(outcome) ? reporter_.Warning(segmentReport_)
                                    : reporter_.Note(segmentReport_);
  }
  const std::string before = RevisionBefore(report);
  if (!report.revisionAfter) {
    reporter_.Warning("firmware revision " + before +
                      " -> revision not read: the drive did not answer IDENTIFY within " +
                      std::to_string(kReidentifyTimeLimit.count() / 1000) + " s");
    if (code != kExitOk) return code;
    reporter_.Problem(kNotVerifiedText);
    return kExitNotVerified;
  }
  reporter_.Note("firmware revision " + before + " -> " + *report.revisionAfter);
  if (options_.command == Command::dptm && report.before.command &&
      report.before.firmware == *report.revisionAfter) {
    // Vendor firmware may take effect only after a power cycle: no failure.
    reporter_.Note("revision unchanged (the drive may apply vendor firmware at its next power cycle)");
  }
  if (report.revisionUnchanged) {
    const bool unsaid = outcome.mode == kDlmcSegmented && !outcome.countRegister;
    reporter_.Problem("revision unchanged: the download completed, but the drive still reports " +
                      *report.revisionAfter +
                      (unsaid ? " (the image holds the same revision, the drive did not apply it, "
                                "or it waits for Activate (0F): the transport did not return "
                                "its answer)"
                              : " (the image holds the same revision, or the drive did not apply "
                                "it)"));
    return kExitRevisionUnchanged;
  }
  return code;
}

int Session::Operate(Bench& b) {
  // A channel is found by a scan, which needs port I/O.
  if (options_.target.kind == TargetKind::channel && RefusedPortIo()) return kExitRefused;
  if (auto code = ResolveTarget(b)) return *code;
  if (options_.target.kind == TargetKind::port && RefusedPortIo()) return kExitRefused;
  if (!Select(b)) return kExitRefused;
  if (options_.command == Command::info) return Info(b);
  if (options_.command == Command::dlmc || options_.command == Command::dptm) return Update(b);

  OperationContext ctx(b.state, b.ports, b.io, b.host, b.trace);
  identity_ = IdentifyButton(ctx);
  if (Interrupted(b.state)) {
    reporter_.Problem("interrupted");
    return kExitInterrupted;
  }
  return identity_->Answered() ? kExitOk : kExitDriveFailure;
}

void WriteDrive(JsonWriter& json, const DriveRow& d) {
  json.BeginObject().Key("index").Int(d.index).Key("busType").String(d.busType);
  json.Key("name").String(d.name).Key("path").String(d.path).EndObject();
}

// `path`: the file as it was given (the log lines name only its base name).
void WriteDownload(JsonWriter& json, const DownloadOutcome& d, const std::string& path) {
  json.Key("download").BeginObject();
  json.Key("mode").String(d.mode == kVendorDownloadMode ? "DPTM" : Hex(d.mode, 2));
  json.Key("file").String(path);
  json.Key("result").String(ResultName(d.result));
  // The closing line's words after the file name.
  json.Key("status");
  d.Failed() || d.Completed()
      ? json.String(ClosingLine(d).substr(DownloadLinePrefix(d.mode, d.file).size()))
      : json.String(d.what);
  if (!d.Completed()) json.Key("what").String(d.what);
  json.Key("unit").String(CountedUnit(d.mode));
  json.Key("sent").Int(static_cast<int>(d.sent)).Key("toSend").Int(static_cast<int>(d.toSend));
  json.Key("vendorStatus");
  if (d.vendor) {
    json.BeginObject().Key("primary").String(Hex(d.vendor->primaryCode, 4));
    json.Key("second").String(Hex(d.vendor->secondCode, 4));
    json.Key("third").String(Hex(d.vendor->thirdCode, 4)).EndObject();
  } else {
    json.Null();
  }
  json.Key("ok").Bool(d.Completed()).EndObject();
}

void WriteCapabilities(JsonWriter& json, const DriveCapabilities& c) {
  const auto blocks = [&](std::optional<std::uint16_t> v) { v ? json.Int(*v) : json.Null(); };
  json.Key("info").BeginObject();
  json.Key("sectors").Int(static_cast<std::int64_t>(c.sectors));
  json.Key("capacityBytes").Int(static_cast<std::int64_t>(c.sectors * kSectorSize));
  json.Key("dlmcSupported").String(SaidName(c.dlmcSupported));
  json.Key("dlmcEnabled").String(SaidName(c.dlmcEnabled));
  json.Key("dlmcOffsetsSupported").String(SaidName(c.offsetsSupported));
  json.Key("dlmcOffsetsEnabled").String(SaidName(c.offsetsEnabled));
  json.Key("segmentMinBlocks"), blocks(c.segmentMin);
  json.Key("segmentMaxBlocks"), blocks(c.segmentMax);
  json.Key("smartSupported").String(SaidName(c.smartSupported));
  json.Key("smartEnabled").String(SaidName(c.smartEnabled)).EndObject();
}

void WriteFirmwareInterface(JsonWriter& json, const FirmwareInterfaceInfo& f,
                            const std::string& line) {
  const std::string notOffered = "not offered: ";
  const bool offered = line.rfind(notOffered, 0) != 0;
  json.Key("systemFirmwareInterface").BeginObject().Key("offered").Bool(offered);
  if (!offered) json.Key("why").String(line.substr(notOffered.size()));
  if (f.systemError != 0) {
    json.Key("systemError").Int(f.systemError);
  } else if (f.onThisSystem) {
    json.Key("supportUpgrade").Bool(f.supportUpgrade);
    json.Key("alignment").Int(f.alignment).Key("largestPiece").Int(f.maxPiece);
    json.Key("activeSlot").Int(f.activeSlot).Key("pendingSlot").Int(f.pendingSlot);
    json.Key("slots").BeginArray();
    for (const FirmwareSlotState& s : f.firmwareSlots) {
      json.BeginObject().Key("number").Int(s.number).Key("readOnly").Bool(s.readOnly);
      json.Key("revision").String(s.revision).EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
}

void WriteChannel(JsonWriter& json, const ChannelRow& c) {
  json.BeginObject().Key("index").Int(c.index).Key("line").String(c.line);
  json.Key("basePort").String(Hex(c.basePort & 0xFFFF, 4));
  json.Key("controlPort").String(Hex(c.controlPort & 0xFFFF, 4)).EndObject();
}

void Session::WriteJson(JsonWriter& json, int exitCode) const {
  json.Key("command").String(CommandName(options_.command));
  json.Key("sim").Bool(options_.sim);
  if (options_.benchFile) json.Key("bench").String(*options_.benchFile);
  if (target_) {
    json.Key("target").BeginObject();
    if (target_->drive) json.Key("drive"), WriteDrive(json, *target_->drive);
    if (target_->channel) json.Key("channel"), WriteChannel(json, *target_->channel);
    if (target_->port) json.Key("port").String(Hex(*target_->port, 4));
    if (!target_->drive) json.Key("device").Int(options_.device.value_or(0));
    json.EndObject();
  }
  if (options_.command == Command::list) {
    json.Key("drives").BeginArray();
    for (const auto& d : drives_) WriteDrive(json, d);
    json.EndArray();
  }
  if (options_.command == Command::scan) {
    json.Key("channels").BeginArray();
    for (const auto& c : channels_) WriteChannel(json, c);
    json.EndArray();
  }
  if (options_.command == Command::errorName) {
    json.Key("codes").BeginArray();
    for (std::uint16_t code : options_.codes) {
      json.BeginObject().Key("code").String(Hex(code, 4));
      json.Key("name").String(ErrorCodeName(code)).EndObject();
    }
    json.EndArray();
  }
  if (identity_) {
    json.Key("identity").BeginObject().Key("model").String(identity_->model);
    json.Key("firmware").String(identity_->firmware);
    json.Key("serial").String(identity_->serial).EndObject();
  }
  if (download_) WriteDownload(json, *download_, options_.file.value_or(download_->file));
  if (activated_) json.Key("activated").Bool(*activated_);
  if (options_.command == Command::info && capabilities_) {
    WriteCapabilities(json, *capabilities_);
    json.Key("transport").String(transport_);
    if (!satForm_.empty()) json.Key("satForm").String(satForm_);
    if (firmwareInterface_) WriteFirmwareInterface(json, *firmwareInterface_, firmwareInterfaceLine_);
  }
  if (update_ && update_->segments) {
    json.Key("segmentBlocks").Int(static_cast<int>(update_->segments->largest));
  }
  if (!segmentReport_.empty()) {
    const auto& count = update_->download.countRegister;
    json.Key("countRegister");
    count ? json.String(Hex(*count, 2)) : json.Null();
    json.Key("countRegisterReport").String(segmentReport_);
  }
  if (update_ && update_->verified) {
    const UpdateReport& u = *update_;
    json.Key("firmwareRevision").BeginObject().Key("before");
    u.before.command ? json.String(u.before.firmware) : json.Null();
    json.Key("after");
    u.revisionAfter ? json.String(*u.revisionAfter) : json.Null();
    json.Key("unchanged").Bool(u.revisionUnchanged);
    json.Key("verified").Bool(u.revisionAfter.has_value()).EndObject();
  }
  json.Key("interrupted").Bool(exitCode == kExitInterrupted);
}

}  // namespace

int ExitCodeOf(const DownloadOutcome& outcome) {
  using Result = DownloadOutcome::Result;
  switch (outcome.result) {
    case Result::completed:
      return kExitOk;
    case Result::refusedByDrive:
    case Result::refusedBySystem:
    case Result::noDrive:
    case Result::stoppedEarly:
    case Result::timedOut:
      return kExitDriveFailure;
    case Result::nothingToSend:
    case Result::refused:
    case Result::cancelled:
      return kExitRefused;
    case Result::stoppedByBreak:
      break;
  }
  return kExitInterrupted;
}

int Run(const std::vector<std::string>& args, const std::filesystem::path& programDir) {
  InstallInterruptHandler();

  bool json = false;
  bool traceOnStderr = false;
  for (const auto& arg : args) {
    if (arg == "--") break;
    json = json || arg == "--json";
    traceOnStderr = traceOnStderr || arg == "--trace";
  }
  // A bar redrawn over the trace's lines would garble both.
  const bool barOnTerminal = !json && !traceOnStderr && StderrIsTerminal();
  ProgressBar bar(std::cerr, barOnTerminal);
  Reporter reporter(json, bar);

  const ParseResult parsed = ParseArgs(args);
  int code = kExitOk;
  std::optional<Session> session;
  if (!parsed.error.empty()) {
    reporter.Problem(parsed.error + " (see " + kProgram + " --help)");
    code = kExitRefused;
  } else if (parsed.options.help) {
    std::cout << UsageText();
    return kExitOk;
  } else if (parsed.options.version) {
    std::cout << kProgram << " " << BRISQUEL_VERSION << "\n";
    return kExitOk;
  } else {
    session.emplace(parsed.options, reporter, bar, programDir);
    // Whatever escapes an operation still ends the run in one line, with the
    // exit code saying whether the drive had been touched, and the document.
    const auto unforeseen = [&](const std::string& what) {
      const bool sent = session->CommandsSent();
      reporter.Problem("stopped by an unexpected error: " + what +
                       (sent ? " (commands had gone out to the drive)" : " (nothing was sent)"));
      return sent ? kExitDriveFailure : kExitRefused;
    };
    try {
      code = session->Execute();
    } catch (const sim::ReplayMismatch& e) {
      reporter.Problem(e.what());
      code = kExitRefused;
    } catch (const std::exception& e) {
      code = unforeseen(e.what());
    } catch (...) {
      code = unforeseen("unknown exception");
    }
  }

  if (json) {
    JsonWriter doc;
    doc.BeginObject();
    if (session) session->WriteJson(doc, code);
    doc.Key("log").BeginArray();
    for (const auto& line : reporter.LogLines()) doc.String(line);
    doc.EndArray();
    doc.Key("exitCode").Int(code);
    if (!reporter.Problems().empty()) {
      doc.Key("errors").BeginArray();
      for (const auto& p : reporter.Problems()) doc.String(p);
      doc.EndArray();
    }
    doc.EndObject();
    reporter.Out(doc.Text());
  }
  reporter.CheckOutput(code);
  return code;
}

}  // namespace brisquel::cli
