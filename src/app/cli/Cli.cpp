#include "app/cli/Cli.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "app/cli/Backend.h"
#include "app/cli/CliArgs.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Json.h"
#include "app/cli/ProgressBar.h"
#include "app/cli/Terminal.h"
#include "app/cli/Traffic.h"
#include "discovery/uSetupApiEnum.h"
#include "ops/ErrorCodeNames.h"
#include "ops/FirmwareFile.h"
#include "ops/StandardDownload.h"
#include "transport/uAtaPass.h"
#include "ui/MainView.h"
#include "ui/ProgramState.h"
#include "ui/uMain.h"

namespace brisquel::cli {

namespace {

constexpr const char* kProgram = "brisquel-cli";

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// The directory the program was started from: the PCI name files are looked
// for beside the program, as the window does.
std::filesystem::path ProgramDirectory(const std::string& argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path program(argv0);
  if (program.has_parent_path()) return fs::absolute(program, ec).parent_path();
  const char separator = fs::path::preferred_separator == '\\' ? ';' : ':';
  if (const char* path = std::getenv("PATH")) {
    std::string dirs = path;
    for (std::size_t start = 0; start <= dirs.size();) {
      std::size_t end = dirs.find(separator, start);
      if (end == std::string::npos) end = dirs.size();
      const fs::path dir = dirs.substr(start, end - start);
      if (!dir.empty() && fs::is_regular_file(dir / program, ec)) return fs::absolute(dir, ec);
      start = end + 1;
    }
  }
  return fs::current_path(ec);
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
    std::cout << line << '\n' << std::flush;
  }

  // A result line of list, scan or error-name (text mode only).
  void Print(const std::string& line) {
    if (!json_) std::cout << line << '\n';
  }

  void Problem(const std::string& text) {
    problems_.push_back(text);
    bar_.Finish();
    std::cerr << kProgram << ": " << text << '\n' << std::flush;
  }

  // Worth saying, but the run goes on as if it had not happened.
  void Warning(const std::string& text) {
    bar_.Finish();
    std::cerr << kProgram << ": warning: " << text << '\n' << std::flush;
  }

  const std::vector<std::string>& LogLines() const { return log_; }
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  bool json_;
  ProgressBar& bar_;
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

// The window as the command line shows it: the log goes to the reporter, the
// list is kept as lines, the file dialog answers with the FILE argument and
// the mode box with --mode; Ctrl-C is the Break button.
class CliView : public MainView {
 public:
  CliView(Reporter& reporter, const CliOptions& options) : reporter_(reporter), options_(options) {}

  TfmMain* window = nullptr;
  std::vector<std::string> lines;
  std::vector<std::string> messages;

  void SetCaption(const std::string&) override {}
  void AppendLogLine(const std::string& text) override { reporter_.Log(text); }
  void SetListEnabled(bool) override {}
  void ClearList() override { lines.clear(); }
  void AddListLine(const std::string& text) override { lines.push_back(text); }
  void SetOperationButtonsEnabled(bool) override {}
  int DlmcTypeIndex() override { return options_.mode ? DlmcModeIndex(*options_.mode) : -1; }
  std::optional<std::string> OpenFileDialog(bool) override { return options_.file; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void PumpMessages() override {
    // Every pump after a Ctrl-C is a click on Break: operations clear the
    // flag when they start, and the press must still stop them.
    if (InterruptCount() > 0 && window) window->btBreakClick();
  }
  bool KeyHeld(Key) override { return false; }

 private:
  Reporter& reporter_;
  const CliOptions& options_;
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

struct Identity {
  std::string model, firmware, serial;
};

// What the last of a download's lines says after "<prefix>", the opening
// line ("<prefix><opening>") aside; none when the download wrote no such line.
std::optional<std::string> ClosingText(const std::vector<std::string>& lines,
                                       const std::string& prefix, const std::string& opening) {
  std::optional<std::string> text;
  for (const auto& line : lines) {
    if (line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0 &&
        line != prefix + opening) {
      text = line.substr(prefix.size());
    }
  }
  return text;
}

struct DownloadOutcome {
  std::string mode;  // "07", or "DPTM"
  std::string file;
  std::optional<std::string> status;  // the closing text after the file name
  bool ok = false;
};

class Session {
 public:
  Session(const CliOptions& options, Reporter& reporter, ProgressBar& bar,
          std::filesystem::path programDir)
      : options_(options), reporter_(reporter), bar_(bar), programDir_(std::move(programDir)) {}

  int Execute();
  void WriteJson(JsonWriter& json, int exitCode) const;

 private:
  int ErrorNames();
  bool CheckFirmwareFile();
  int RunOnBackend(Backend& backend);
  int List(TfmMain& window, CliView& view, ProgramState& state);
  int Scan(TfmMain& window, CliView& view, ProgramState& state);
  int Operate(TfmMain& window, CliView& view, ProgramState& state, PortLibrary& ports, DeviceIo& io,
              TrafficMeter& meter);
  std::optional<int> ResolveTarget(TfmMain& window, CliView& view, ProgramState& state);
  bool NeedsConsent() const;
  bool RefusedPortIo();
  bool Consent();
  bool Interrupted(const ProgramState& state) const {
    return InterruptCount() > 0 && state.BreakFlag;
  }

  const CliOptions& options_;
  Reporter& reporter_;
  ProgressBar& bar_;
  std::filesystem::path programDir_;

  std::uintmax_t fileSize_ = 0;
  std::vector<DriveRow> drives_;
  std::vector<ChannelRow> channels_;
  std::optional<TargetInfo> target_;
  std::optional<Identity> identity_;
  std::optional<DownloadOutcome> download_;
  std::optional<bool> activated_;
  bool administrator_ = true;
  std::optional<std::string> portRefusal_;
};

// Without port I/O a PCI scan finds nothing and a PIO wait never ends: say why
// instead.
bool Session::RefusedPortIo() {
  if (portRefusal_) reporter_.Problem(*portRefusal_);
  return portRefusal_.has_value();
}

int Session::Execute() {
  if (options_.command == Command::errorName) return ErrorNames();
  // A file that would be refused is refused before any drive is touched.
  if (options_.file && !CheckFirmwareFile()) return kExitRefused;

  // Without a terminal nobody can be asked: refuse before any hardware is touched.
  if (NeedsConsent() && !StdinIsTerminal()) {
    reporter_.Problem(
        "refusing a lasting firmware download to a real drive without consent: run it from a "
        "terminal to be asked, or add --yes");
    return kExitRefused;
  }

  std::string problem;
  std::unique_ptr<Backend> backend =
      options_.sim ? MakeBenchBackend(options_.benchFile, problem) : MakeSystemBackend(problem);
  if (!backend) {
    reporter_.Problem(problem);
    return kExitRefused;
  }

  // The bench remembers its drives' firmware between runs.
  std::optional<std::filesystem::path> stateFile;
  const auto remembered = backend->Remembered();
  if (options_.sim) {
    if (auto dir = StateDirectory()) {
      stateFile = *dir / BenchStateFileName(options_.benchFile);
      if (!LoadBenchState(*stateFile, remembered, problem)) {
        reporter_.Warning(problem + "; the bench starts as described");
      }
    } else {
      reporter_.Warning("no state directory (HOME is not set): the bench will not remember");
    }
  }

  const int code = RunOnBackend(*backend);

  if (stateFile && !SaveBenchState(*stateFile, remembered, problem)) reporter_.Warning(problem);
  return code;
}

int Session::ErrorNames() {
  for (std::uint16_t code : options_.codes)
    reporter_.Print(Hex(code, 4) + "\t" + ErrorCodeName(code));
  return kExitOk;
}

bool Session::CheckFirmwareFile() {
  const FirmwareFile file = LoadFirmwareFile(*options_.file, kDlmcMaxImageBytes);
  switch (file.outcome) {
    case FirmwareFile::Outcome::loaded:
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
  reporter_.Problem(*options_.file + ": cannot read the firmware file");
  return false;
}

int Session::RunOnBackend(Backend& backend) {
  auto state = std::make_unique<ProgramState>();
  TrafficMeter meter;
  MeteredPorts ports(backend.Ports(), state->DriveTarget, meter);
  MeteredDeviceIo io(backend.Io(), meter);
  CliView view(reporter_, options_);
  backend.SetNoticeSink([this](const std::string& text) { reporter_.Log(text); });
  TfmMain window(view,
                 MainPlatform{*state, ports, io, backend.Disks(), backend.System(), programDir_});
  view.window = &window;

  window.FormCreate();
  administrator_ = backend.System().HasAdministratorRights();
  if (const std::string problem = backend.PortAccessProblem(); !problem.empty()) {
    // Status 2 ("Driver not loaded") is a refusal that rights would lift; 1
    // ("Unsupported Platform") means no port I/O at all.
    const bool rightsWouldHelp = !administrator_ && ports.GetDllStatus() == 2;
    portRefusal_ = "PIO mode needs port I/O, which the system refused: " + problem +
                   (rightsWouldHelp ? kRightsHint : "");
  }
  OperationRunning running;
  switch (options_.command) {
    case Command::list:
      return List(window, view, *state);
    case Command::scan:
      return Scan(window, view, *state);
    default:
      return Operate(window, view, *state, ports, io, meter);
  }
}

int Session::List(TfmMain& window, CliView& view, ProgramState& state) {
  window.FillDriveList();
  for (std::size_t i = 0; i < view.lines.size() && i < kDriveTableSize; ++i) {
    const TST_PhysicalDrive& d = state.DriveTable[i];
    DriveRow row{static_cast<int>(i), BusTypeName(d.BusType), view.lines[i], d.DevicePath};
    reporter_.Print(std::to_string(row.index) + "\t" + row.busType + "\t" + row.name + "\t" +
                    row.path);
    drives_.push_back(std::move(row));
  }
  return kExitOk;
}

int Session::Scan(TfmMain& window, CliView& view, ProgramState& state) {
  if (RefusedPortIo()) return kExitRefused;
  window.rbPIOClick();
  for (std::size_t i = 0; i < view.lines.size() && i < kChannelTableSize; ++i) {
    const ControllerEntry& entry = state.ChannelTable[i];
    ChannelRow row{static_cast<int>(i), view.lines[i], entry.basePort, entry.controlPort};
    reporter_.Print(std::to_string(row.index) + "\t" + row.line);
    channels_.push_back(std::move(row));
  }
  // Break stops the scan where it is; what it found is still listed.
  return Interrupted(state) ? kExitInterrupted : kExitOk;
}

std::optional<int> Session::ResolveTarget(TfmMain& window, CliView& view, ProgramState& state) {
  const Target& t = options_.target;
  TargetInfo info;
  if (t.kind == TargetKind::port) {
    info.port = static_cast<std::uint16_t>(t.value);
    info.description = "the drive on the PIO channel at port 0x" + Hex(t.value, 4);
    target_ = info;
    return std::nullopt;
  }
  if (t.kind == TargetKind::drive) {
    window.FillDriveList();
  } else {
    window.rbPIOClick();
    if (Interrupted(state)) {
      reporter_.Problem("interrupted during the PCI scan");
      return kExitInterrupted;
    }
  }
  const char* listCommand = t.kind == TargetKind::drive ? "list" : "scan";
  if (t.value >= view.lines.size()) {
    reporter_.Problem("no line " + std::to_string(t.value) + " in `" + listCommand + "` (it has " +
                      std::to_string(view.lines.size()) + ")");
    return kExitRefused;
  }
  const int index = static_cast<int>(t.value);
  if (t.kind == TargetKind::drive) {
    const TST_PhysicalDrive& d = state.DriveTable[t.value];
    info.drive = DriveRow{index, BusTypeName(d.BusType), view.lines[t.value], d.DevicePath};
    info.description =
        "\"" + d.DisplayName + "\" (--drive " + std::to_string(index) + ", " + d.DevicePath + ")";
  } else {
    const ControllerEntry& e = state.ChannelTable[t.value];
    info.channel = ChannelRow{index, view.lines[t.value], e.basePort, e.controlPort};
    info.description =
        "the drive on \"" + view.lines[t.value] + "\" (--channel " + std::to_string(index) + ")";
    // A channel whose base register reads zero (or another motherboard port)
    // would have its "device register" written among the DMA and interrupt
    // controllers.
    if ((e.basePort & 0xFFFF) < 0x100) {
      target_ = info;
      reporter_.Problem("channel " + std::to_string(index) + " has no usable task-file port (" +
                        Hex(e.basePort & 0xFFFF, 4) + ")");
      return kExitRefused;
    }
  }
  target_ = info;
  return std::nullopt;
}

bool Session::NeedsConsent() const {
  const bool lasting = options_.command == Command::dptm ||
                       (options_.command == Command::dlmc && DlmcModeIsLasting(*options_.mode));
  return lasting && !options_.sim && !options_.yes;
}

bool Session::Consent() {
  if (!NeedsConsent()) return true;

  std::string what;
  if (options_.command == Command::dptm) {
    what = "replace the drive's firmware through its vendor channel (DPTM)";
  } else {
    switch (*options_.mode) {
      case 0x03:
        what = "save new firmware in segments for immediate and future use (DOWNLOAD MICROCODE 03)";
        break;
      case 0x07:
        what = "save new firmware for immediate and future use (DOWNLOAD MICROCODE 07)";
        break;
      case 0x0E:
        what = "store new firmware for a later activation (DOWNLOAD MICROCODE 0E)";
        break;
      default:
        what = "switch the drive to its deferred firmware (DOWNLOAD MICROCODE 0F)";
        break;
    }
  }
  std::string question = "This will " + what + "\n  drive: " + target_->description + "\n";
  if (options_.file) {
    question += "  file:  " + *options_.file + " (" + std::to_string(fileSize_) + " bytes)\n";
  }
  std::cerr << question << "Go on? Type \"yes\": " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer == "yes" || answer == "YES" || answer == "y" || answer == "Y") return true;
  reporter_.Problem("not confirmed; nothing was sent");
  return false;
}

int Session::Operate(TfmMain& window, CliView& view, ProgramState& state, PortLibrary& ports,
                     DeviceIo& io, TrafficMeter& meter) {
  // A channel is found by a scan, which needs port I/O; for a port the consent
  // question still comes first, as it always does.
  if (options_.target.kind == TargetKind::channel && RefusedPortIo()) return kExitRefused;
  if (auto code = ResolveTarget(window, view, state)) return *code;
  if (!Consent()) return kExitRefused;
  if (options_.target.kind == TargetKind::port && RefusedPortIo()) return kExitRefused;

  // Select the target as a click on its line would (the "Bus Type:" line
  // included), or set up the PIO channel a port names.
  if (target_->port) {
    state.DriveTarget.kind = TransportKind::pio;
    state.DriveTarget.basePort = *target_->port;
    state.DriveTarget.slave = false;
    SetDeviceSelect(ports, *target_->port, 0x00);
  } else {
    view.messages.clear();
    window.lbControllersClick(static_cast<int>(options_.target.value));
    if (!view.messages.empty()) {
      reporter_.Problem(OpenFailure(target_->description, io, administrator_));
      return kExitRefused;
    }
  }

  if (options_.command == Command::dlmc && options_.mode != kDlmcActivate) {
    if (auto refusal = DownloadRefusal(state.DriveTarget.kind, *options_.mode, fileSize_)) {
      reporter_.Problem(*refusal);
      return kExitRefused;
    }
  }

  const std::size_t firstLine = reporter_.LogLines().size();
  const auto opLines = [&] {
    return std::vector<std::string>(reporter_.LogLines().begin() + firstLine,
                                    reporter_.LogLines().end());
  };
  bool ok = false;
  const bool metered = options_.file.has_value();
  if (metered) {
    meter.onChange = [this](std::uint64_t sent, std::uint64_t total) { bar_.Update(sent, total); };
    // DOWNLOAD MICROCODE sends whole blocks; the vendor download announces the
    // whole sectors and then sends what the drive asks for.
    meter.SetTotal(options_.command == Command::dlmc ? (fileSize_ + kSectorSize - 1) / kSectorSize
                                                     : fileSize_ / kSectorSize);
  }

  switch (options_.command) {
    case Command::identify: {
      window.btIdentifyClick();
      ok = !state.AtaStatusBits.ERR;
      // The identity line: "<model> FW:<firmware> SN:<serial>" (the names hold no colon).
      for (const auto& line : opLines()) {
        const auto fw = line.find(" FW:");
        const auto sn = line.find(" SN:");
        if (fw == std::string::npos || sn == std::string::npos || sn < fw) continue;
        identity_ =
            Identity{line.substr(0, fw), line.substr(fw + 4, sn - fw - 4), line.substr(sn + 4)};
      }
      break;
    }
    case Command::dlmc: {
      window.btUnlockClick();
      if (*options_.mode == kDlmcActivate) {
        // Activation writes no log line; its outcome is the command's ERR.
        ok = !state.AtaStatusBits.ERR && !state.BreakFlag;
        activated_ = ok;
        if (!ok) reporter_.Problem("the drive did not activate the deferred firmware");
        break;
      }
      DownloadOutcome d{Hex(*options_.mode, 2), FileNameOf(*options_.file), std::nullopt, false};
      d.status =
          ClosingText(opLines(), "Download Microcode " + d.mode + " - " + d.file + " - ", "Start");
      d.ok = d.status == "End - OK";
      ok = d.ok;
      download_ = d;
      break;
    }
    case Command::dptm: {
      window.btReplaceClick();
      DownloadOutcome d{"DPTM", FileNameOf(*options_.file), std::nullopt, false};
      d.status = ClosingText(opLines(), "Download Microcode (DPTM) - " + d.file + " - ", "Begin");
      // The closing text starts with the name of the drive's primary code;
      // code 0 is "SUCCESS". A status read the drive refused leaves nothing
      // of its own in the sector, so that "SUCCESS" is not the drive's word.
      d.ok = !state.AtaStatusBits.ERR && d.status && d.status->rfind("SUCCESS ", 0) == 0;
      ok = d.ok;
      download_ = d;
      break;
    }
    default:
      break;
  }
  meter.onChange = nullptr;
  bar_.Finish();

  if (Interrupted(state)) {
    reporter_.Problem("interrupted");
    return kExitInterrupted;
  }
  return ok ? kExitOk : kExitDriveFailure;
}

void WriteDrive(JsonWriter& json, const DriveRow& d) {
  json.BeginObject().Key("index").Int(d.index).Key("busType").String(d.busType);
  json.Key("name").String(d.name).Key("path").String(d.path).EndObject();
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
  if (download_) {
    json.Key("download").BeginObject().Key("mode").String(download_->mode);
    json.Key("file").String(download_->file);
    json.Key("status");
    download_->status ? json.String(*download_->status) : json.Null();
    json.Key("ok").Bool(download_->ok).EndObject();
  }
  if (activated_) json.Key("activated").Bool(*activated_);
  json.Key("interrupted").Bool(exitCode == kExitInterrupted);
}

}  // namespace

int Run(const std::vector<std::string>& args, const std::string& argv0) {
  InstallInterruptHandler();

  bool json = false;
  for (const auto& arg : args) {
    if (arg == "--") break;
    json = json || arg == "--json";
  }
  const bool barOnTerminal = !json && StderrIsTerminal();
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
    session.emplace(parsed.options, reporter, bar, ProgramDirectory(argv0));
    code = session->Execute();
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
    std::cout << doc.Text() << std::flush;
  }
  return code;
}

}  // namespace brisquel::cli
