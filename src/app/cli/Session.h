// One run of brisquel-cli on one backend: what it reads, selects, sends and
// found out. Its commands live by job: ReadCommands.cpp (list, scan, identify,
// info), UpdateCommand.cpp (the questions, the procedure, exit codes),
// OfflineCommands.cpp (those that touch no drive), JsonDocument.cpp (--json),
// and Cli.cpp wires the process together.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/Backend.h"
#include "app/cli/Cli.h"
#include "app/cli/CliArgs.h"
#include "app/cli/CliHost.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ProgressBar.h"
#include "app/cli/Reporter.h"
#include "ops/DiskUsers.h"
#include "ops/NvmeIdentity.h"
#include "ops/DownloadOutcome.h"
#include "ops/DriveCapabilities.h"
#include "ops/Identify.h"
#include "ops/UpdateProcedure.h"
#include "transport/CommandObserver.h"
#include "transport/CommandRecorder.h"
#include "transport/FirmwareInterface.h"
#include "ui/ProgramState.h"

namespace brisquel::cli {

class JsonWriter;

std::string Hex(std::uint32_t value, int digits);

inline constexpr const char* kRightsHint =
    " (administrator rights are needed: run it as root, e.g. with sudo)";

struct DriveRow {
  int index = 0;
  std::string busType, name, path;
};

struct ChannelRow {
  int index = 0;
  std::string line;
  std::uint32_t basePort = 0, controlPort = 0;
};

// What `inventory` learnt of one drive of the list, or why it learnt nothing.
struct DriveFacts {
  DriveRow row;
  std::uint32_t maxTransfer = 0;  // the disk queue's largest transfer in bytes; 0 unknown
  DiskUse use;
  std::string problem;  // empty when the drive answered IDENTIFY
  std::string transport, satForm;
  std::optional<IdentifyOutcome> identity;
  std::optional<DriveCapabilities> capabilities;
  std::optional<std::uint64_t> wwn;
  // Where the drive says whether a saved image waits for activation; none elsewhere.
  std::optional<bool> pendingActivation;
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
  int BenchPowerCycle(sim::Bench& bench);
  bool CheckFirmwareFile();
  int RunOnBackend(Backend& backend);
  void ReadDrives(Bench& b);
  void ReadChannels(Bench& b);
  int List(Bench& b);
  void NoDrivesNote(Bench& b);
  int Inventory(Bench& b);
  DriveFacts Survey(Bench& b, const DriveRow& row);
  std::optional<int> FindNamedDrive(Bench& b, TargetInfo& info);
  std::string NamedMismatch(const IdentifyOutcome& identity) const;
  // The selected drive no longer reports the --serial/--wwn it was found by.
  std::string NotNamedDrive(const IdentifyOutcome& identity) const;
  std::string NameText() const;
  int Scan(Bench& b);
  int Operate(Bench& b);
  std::optional<int> ResolveTarget(Bench& b);
  bool Select(Bench& b);
  bool NeedsConsent() const;
  bool RefusedPortIo();
  bool Lasting() const;
  int Info(Bench& b);
  int NvmeDriveInfo(Bench& b);
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
  std::vector<DriveFacts> facts_;  // inventory
  std::vector<ChannelRow> channels_;
  // bench power-cycle: each drive's name and what it ran before and runs after.
  struct PowerCycled {
    std::string name, before, after;
  };
  std::vector<PowerCycled> powerCycled_;
  std::optional<TargetInfo> target_;
  std::optional<IdentifyOutcome> identity_;
  std::optional<DownloadOutcome> download_;
  std::optional<bool> activated_;
  bool administrator_ = true;
  std::optional<std::string> portRefusal_;

  std::optional<DriveCapabilities> capabilities_;  // info
  std::optional<NvmeInfo> nvmeInfo_;               // info on an NVMe drive
  std::string transport_;
  std::string satForm_;  // info on a USB drive: the command block form it answers
  // info: the largest transfer the system takes to the disk; none over PIO or unknown.
  std::optional<std::uint32_t> maxTransfer_;
  // info on Windows: what the disk's driver said of its firmware interface.
  std::optional<FirmwareInterfaceInfo> firmwareInterface_;
  std::string firmwareInterfaceLine_;
  // A download: what the update procedure found and did, and what the count
  // register said of its segments.
  std::optional<UpdateReport> update_;
  std::string segmentReport_;

  friend class CliQuestions;
};

// The --json document: what the session found (when the arguments made one),
// the log lines, the exit code and the problems.
std::string JsonDocument(const Session* session, const Reporter& reporter, int code);

}  // namespace brisquel::cli
