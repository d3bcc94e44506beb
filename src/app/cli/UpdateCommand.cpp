// The update command: the firmware file's checks, the questions on a
// terminal, the update procedure and the exit codes its report gives.
#include <iostream>
#include <string>

#include "app/cli/Interrupt.h"
#include "app/cli/Session.h"
#include "ops/DlmcModes.h"
#include "ops/DownloadCheck.h"
#include "ops/FirmwareFile.h"
#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "ops/UpdateProcedure.h"

namespace brisquel::cli {

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

bool Session::Lasting() const {
  return options_.command == Command::dptm ||
         (options_.command == Command::dlmc && DlmcModeIsLasting(*options_.mode));
}

bool Session::NeedsConsent() const {
  return Lasting() && (!options_.sim || options_.ask) && !options_.yes;
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
    // The drive --serial or --wwn found must still be the one the download
    // reached: its IDENTIFY before anything is sent says so.
    if (const std::string other = session_.NotNamedDrive(sofar.before); !other.empty()) {
      reporter_.Problem("refused: " + other + "; nothing was sent");
      return false;
    }
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
        options_.command == Command::dptm ? "replace the drive's firmware through its vendor channel (DPTM)"
        : sofar.before.nvme               ? NvmeEffect()
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

  std::string NvmeEffect() const {
    const std::string when = options_.activateNow ? "at once" : "at the controller's next reset";
    switch (*options_.mode) {
      case kDlmcDeferred:
        return "store new firmware in a firmware slot of the NVMe controller, not activated";
      case kDlmcActivate:
        return "activate the firmware in a slot of the NVMe controller, " + when;
      default:
        return "store new firmware in a firmware slot of the NVMe controller and run it " + when;
    }
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
    request.slot = options_.slot;
    request.activateNow = options_.activateNow;
  }
  // Named on the command line, the file is weighed before any question.
  request.file = options_.file;
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

  if (report.pieceBytes) {
    reporter_.Note("pieces of " + std::to_string(*report.pieceBytes) + " bytes (" +
                   report.pieceWhy + ")");
  }
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
  // Refused before anything was sent (what this kind of drive cannot take):
  // the log said why.
  if (report.stage == UpdateReport::Stage::identify &&
      outcome.result == DownloadOutcome::Result::refused) {
    reporter_.Problem("refused: " + outcome.what);
    return kExitRefused;
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
  if (report.slot && (report.storedOnly || !report.waitsFor.empty())) {
    // NVMe: the image is in its slot and the running revision stays.
    std::string line = RevisionLine(report);
    line[0] = 'f';
    reporter_.Note(line);
  } else {
    reporter_.Note("firmware revision " + before + " -> " + *report.revisionAfter);
  }
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

}  // namespace brisquel::cli
