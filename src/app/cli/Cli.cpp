#include "app/cli/Cli.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "app/Backend.h"
#include "app/BenchState.h"
#include "app/cli/CliArgs.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ProgressBar.h"
#include "app/cli/Reporter.h"
#include "app/cli/Session.h"
#include "app/cli/Trace.h"
#include "ops/DlmcModes.h"
#include "ops/OperationHost.h"
#include "sim/Replay.h"
#include "transport/CommandRecorder.h"
#include "transport/RecordingDeviceIo.h"
#include "transport/Utf8Path.h"
#include "ui/ProgramState.h"
#include "ui/Terminal.h"

namespace brisquel::cli {

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

namespace {

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
  void NvmeCommandStarting(const DriveTarget& target, const NvmeAdminRequest& request) override {
    ++count_;
    if (next_) next_->NvmeCommandStarting(target, request);
  }
  void NvmeCommandEnded(const DriveTarget& target, const NvmeAdminRequest& request,
                        const NvmeAdminAnswer& answer, std::chrono::nanoseconds elapsed) override {
    if (next_) next_->NvmeCommandEnded(target, request, answer, elapsed);
  }
  void FirmwareCallStarting(const DriveTarget& target, const FirmwareCall& call) override {
    if (next_) next_->FirmwareCallStarting(target, call);
  }
  void FirmwareCallEnded(const DriveTarget& target, const FirmwareCall& call,
                         const FirmwareCallReturn& back) override {
    if (next_) next_->FirmwareCallEnded(target, call, back);
  }

 private:
  int& count_;
  CommandObserver* next_;
};

}  // namespace

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

  // A power cycle is the bench's alone, --sim or not.
  const bool powerCycle = options_.command == Command::benchPowerCycle;
  BackendLoad load = MakeBackend({options_.sim || powerCycle, options_.benchFile});
  if (!load.backend) {
    reporter_.Problem(load.problem);
    return kExitRefused;
  }
  std::unique_ptr<Backend> backend = std::move(load.backend);

  // The bench remembers its drives' firmware between runs.
  BenchMemory memory(*backend, options_.benchFile);
  if (!memory.LoadProblem().empty()) reporter_.Warning(memory.LoadProblem());

  const int code = powerCycle ? BenchPowerCycle(*backend->Bench()) : RunOnBackend(*backend);

  // Only a download or a power cycle changes what the drives remember; a
  // damaged file is replaced by the bench as described, so that it warns once.
  const bool changed = options_.command == Command::dlmc || options_.command == Command::dptm ||
                       powerCycle;
  if (changed || memory.Damaged()) {
    if (const std::string problem = memory.Save(); !problem.empty()) reporter_.Warning(problem);
  }
  return code;
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
    case Command::inventory:
      code = Inventory(b);
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

  if (json) reporter.Out(JsonDocument(session ? &*session : nullptr, reporter, code));
  reporter.CheckOutput(code);
  return code;
}

}  // namespace brisquel::cli
