#include "ops/UpdateProcedure.h"

#include <algorithm>
#include <cstdio>

#include "ops/DlmcModes.h"
#include "ops/FirmwareFile.h"
#include "ops/FirmwareProtocol.h"
#include "ops/NvmeIdentity.h"
#include "ops/StandardDownload.h"
#include "ops/VendorChannel.h"
#include "ops/VendorDownload.h"
#include "ops/WorldWideName.h"
#include "transport/Bytes.h"

namespace brisquel {
namespace {

using Result = DownloadOutcome::Result;
using Stage = UpdateReport::Stage;

constexpr std::uint32_t kWdcOui = 0x0014EE;

std::uint8_t ModeOf(const UpdateRequest& r) {
  return r.kind == UpdateRequest::Kind::vendor ? kVendorDownloadMode : r.mode.value_or(0);
}

std::string SystemDiskRefusal(const std::string& disk, std::uint8_t mode, RunningSystem system,
                              bool nvme) {
  if (nvme) {
    return "the NVMe controller of " + disk + " holds the running system, and --activate now "
           "switches it to new firmware at once, under it: the system can stop, and what it has "
           "not yet written can be lost. The safe way: activation at the next reset (leave "
           "--activate now out), then a power cycle";
  }
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(mode));
  const std::string risk = disk + " holds the running system, and mode " + hex +
                           " switches the drive to new firmware at once, under it: the system "
                           "can stop, and what it has not yet written can be lost";
  if (system == RunningSystem::windows) {
    return risk + ". The safe ways: 0E then 0F through Windows' firmware interface, which tells "
                  "the storage stack, or 0E then a shutdown and a fresh start (a power cycle)";
  }
  return risk + ". The safe way: 0E then a power cycle";
}

bool IsAccessDenied(const CommandResult& command) {
  return command.end == CommandEnd::systemRefused &&
         command.systemError == win32::ERROR_ACCESS_DENIED_;
}

class Procedure {
 public:
  Procedure(UpdateContext& u, const UpdateRequest& r)
      : u_(u), t_(u.ops.transport), r_(r), protocol_(FirmwareProtocolFor(u.ops, r, report_)) {
    report_.download.mode = ModeOf(r);
  }

  UpdateReport Run() {
    // What this kind of drive cannot take at all: refused before anything
    // goes out, its identify command included.
    if (const auto refusal = protocol_->RequestRefusal()) {
      const std::string& why = *refusal;
      report_.refusals.push_back(why);
      u_.ops.host.LogLine("Refused: " + why);
      return Ended(Stage::identify, Result::refused, why);
    }
    u_.ops.queueBytes = r_.queueBytes;
    if (!Identify()) return report_;
    if (r_.kind == UpdateRequest::Kind::dlmc && !r_.mode) {
      // A typed mode text: the unlock alone, as the window always sent it.
      Unlock();
      return Ended(Stage::done);
    }
    // A file named up front is weighed against the transfer path before
    // anything asks or unlocks.
    std::optional<FirmwareFile> file;
    if (r_.file && WholeImage()) {
      file = ChooseFile();
      if (!file || !ImageFits(*file)) return report_;
    }
    if (!DriveChecks()) return report_;
    // What the driver said at selection settles 0F's path, on which the
    // system-disk rule depends, and refuses a --via it cannot honour before
    // anything is sent; 0E's image is weighed once it is read.
    if (!ChoosePath(std::nullopt, Stage::driveChecks)) return report_;
    if (!SystemDiskCheck() || !GoAhead()) return report_;
    if (r_.kind == UpdateRequest::Kind::dlmc && !Unlock()) return report_;
    // Break pressed while the unlock went out: no dialog, nothing more sent.
    if (t_.state.BreakFlag) {
      u_.ops.host.LogLine(std::string("Stopped by Break before the ") +
                          (r_.mode == kDlmcActivate ? "activation" : "download") +
                          ": the drive keeps its current firmware");
      return Ended(Stage::unlock, Result::stoppedByBreak, "stopped by Break");
    }
    if (r_.mode == kDlmcActivate) {
      report_.stage = Stage::send;
      const bool system = report_.throughInterface;
      const CommandResult activated =
          system ? ActivateThroughFirmwareInterface(t_) : protocol_->Finish();
      report_.download.result = ResultOf(activated);
      report_.download.what =
          WhatEnded(activated, system ? kFirmwareActivateCall : protocol_->FinishName(), t_);
      return Verify();
    }
    if (!file) file = ChooseFile();
    if (!file || !FileChecks(*file)) return report_;
    report_.stage = Stage::send;
    if (r_.kind == UpdateRequest::Kind::vendor) {
      report_.download = VendorDownloadFromFile(u_.ops, fileName_, file->image);
    } else if (report_.throughInterface) {
      report_.download = SendThroughFirmwareInterface(u_.ops, fileName_, file->image, pieceBytes_);
    } else {
      report_.download = protocol_->Send(fileName_, file->image);
    }
    if (report_.download.result == Result::stoppedByBreak) {
      u_.ops.host.LogLine(StoppedByBreakLine(report_.download));
    }
    return Verify();
  }

 private:
  UpdateReport& Ended(Stage stage, Result result = Result::completed, std::string what = {}) {
    report_.stage = stage;
    if (stage != Stage::done) {
      report_.download.result = result;
      report_.download.what = std::move(what);
    }
    return report_;
  }

  bool Stopped(Stage stage, const CommandResult& command, const char* commandName) {
    if (!command.EndsTheOperation()) return false;
    Ended(stage, ResultOf(command), WhatEnded(command, commandName, t_));
    return true;
  }

  bool Identify() {
    report_.before = protocol_->ReadDrive();
    if (Stopped(Stage::identify, report_.before.command, protocol_->IdentifyName())) return false;
    // Without the rights nothing more can go through either: say so before
    // the checks, whose refusals would only hide it.
    if (IsAccessDenied(report_.before.command)) {
      Ended(Stage::identify, Result::refusedBySystem,
            WhatEnded(report_.before.command, protocol_->IdentifyName(), t_));
      return false;
    }
    return true;
  }

  bool DriveChecks() {
    report_.stage = Stage::driveChecks;
    std::vector<std::string>& why = report_.refusals;
    const IdentifyOutcome& id = report_.before;
    if (!id.command) {
      why.push_back("the drive's IDENTIFY data cannot be read, so what it supports is unknown");
    } else if (!id.Answered()) {
      why.push_back(ValidityText(id.validity) + ", so what the drive supports is unknown");
    } else if (id.validity == IdentifyValidity::checksumWrong) {
      why.push_back("IDENTIFY checksum wrong: the drive's data may be damaged, so what it "
                    "supports cannot be trusted");
    }
    for (std::string& refusal : protocol_->SupportRefusals()) why.push_back(std::move(refusal));
    // Every mode switches or stores firmware (01 too: the drive resets into it).
    if (auto refusal = DiskUseRefusal()) why.push_back(*refusal);
    if (why.empty()) return true;
    if (!u_.questions.SendAnyway(why)) {
      Ended(Stage::driveChecks, Result::refused, why.front());
      return false;
    }
    report_.sentAnyway = true;
    return true;
  }

  bool Nvme() const { return t_.state.DriveTarget.kind == TransportKind::nvme; }

  std::string DiskName() const {
    return r_.devicePath ? *r_.devicePath : "the drive on the channel";
  }

  std::optional<std::string> DiskUseRefusal() {
    const std::string disk = Nvme() ? "the NVMe controller of " + DiskName() : DiskName();
    // Firmware belongs to the controller: every namespace it serves counts.
    use_ = !r_.devicePath ? u_.diskUsers.OfChannel(t_.state.DriveTarget.basePort)
           : Nvme()       ? u_.diskUsers.OfController(*r_.devicePath)
                          : u_.diskUsers.OfDisk(*r_.devicePath);
    const DiskUse& use = use_;
    switch (use.state) {
      case DiskUse::State::free:
        return std::nullopt;
      case DiskUse::State::inUse:
        return disk + " is in use (" + use.what +
               "): a drive that resets into new firmware under mounted filesystems can lose data";
      case DiskUse::State::unknown:
        break;
    }
    return "whether anything uses " + disk + " cannot be told (" + use.what +
           "), and a drive that resets into new firmware under mounted filesystems can lose data";
  }

  // Whatever the general answer was: a drive that switches firmware under the
  // running system can take it down.
  bool SystemDiskCheck() {
    // The firmware interface tells the storage stack, which expects the switch.
    if (use_.state != DiskUse::State::inUse || use_.system == RunningSystem::none ||
        r_.kind != UpdateRequest::Kind::dlmc || report_.throughInterface) {
      return true;
    }
    if (!protocol_->SwitchesAtOnce()) return true;
    const std::string why = SystemDiskRefusal(DiskName(), *r_.mode, use_.system, Nvme());
    report_.refusals.push_back(why);
    if (u_.questions.SendToSystemDisk(why)) return true;
    Ended(Stage::driveChecks, Result::refused, why);
    return false;
  }

  // 0E and 0F go through Windows' firmware interface where it can carry them,
  // decided before anything is sent. Asked for by name, it is that or nothing.
  bool ChoosePath(std::optional<std::size_t> imageBytes, Stage stage) {
    report_.throughInterface = false;
    const bool deferred = r_.mode == kDlmcDeferred || r_.mode == kDlmcActivate;
    // An NVMe drive's protocol chooses its own way.
    if (r_.kind != UpdateRequest::Kind::dlmc || !deferred || r_.via == FirmwareVia::passThrough ||
        Nvme()) {
      return true;
    }
    const FirmwareInterfaceInfo& info = t_.state.FirmwareInterface;
    std::optional<std::string> refusal =
        FirmwareInterfaceRefusal(info, t_.state.DriveTarget.kind, t_.io);
    if (!refusal && imageBytes) {
      const std::uint32_t segmentBytes = protocol_->LargestPiece();
      if (const auto piece = FirmwarePieceBytes(*imageBytes, info, segmentBytes)) {
        pieceBytes_ = *piece;
      } else {
        refusal = "the image's " + std::to_string(*imageBytes) + " bytes do not go in pieces of " +
                  std::to_string(info.alignment) + "-byte multiples of at most " +
                  std::to_string(std::min(info.maxPiece, segmentBytes)) + " bytes";
      }
    }
    if (!refusal) {
      report_.throughInterface = true;
      return true;
    }
    if (r_.via == FirmwareVia::automatic) return true;
    report_.interfaceRefusal = "Windows' firmware interface cannot carry it: " + *refusal;
    Ended(stage, Result::refused, report_.interfaceRefusal);
    return false;
  }

  bool GoAhead() {
    report_.stage = Stage::goAhead;
    if (u_.questions.GoAhead(report_)) return true;
    Ended(Stage::goAhead, t_.state.BreakFlag ? Result::stoppedByBreak : Result::cancelled,
          "not confirmed");
    return false;
  }

  bool Unlock() {
    report_.stage = Stage::unlock;
    // The unlock is an ATA command; an NVMe drive of that maker takes none.
    if (Nvme()) return true;
    if (!IsWdcDrive(report_.before)) {
      u_.ops.host.LogLine("Vendor unlock left out: not a WDC drive");
      return true;
    }
    return !Stopped(Stage::unlock, SendVendorPreamble(t_), "the vendor preamble");
  }

  std::optional<FirmwareFile> ChooseFile() {
    report_.stage = Stage::file;
    const std::optional<std::string> path = r_.file ? r_.file : u_.ops.host.OpenFirmwareDialog();
    if (!path) {
      Ended(Stage::file, Result::cancelled);
      return std::nullopt;
    }
    fileName_ = FileNameOf(*path);
    report_.download.file = fileName_;
    FirmwareFile file = LoadFirmwareFile(*path, kDlmcMaxImageBytes);
    if (file.outcome == FirmwareFile::Outcome::unreadable) {
      Refuse(Stage::file, "Cannot read the file " + ShownName(*path) + ": " + file.problem);
      return std::nullopt;
    }
    return file;
  }

  bool FileChecks(const FirmwareFile& file) {
    report_.stage = Stage::fileChecks;
    if (r_.kind == UpdateRequest::Kind::vendor) {
      // The vendor channel sends in chunks, but takes no larger file than a
      // standard download: the window and the command line refuse alike.
      if (auto refusal = ImageSizeRefusal(file.size)) {
        Refuse(Stage::fileChecks, *refusal);
        return false;
      }
      return true;
    }
    if (!ImageFits(file)) return false;
    if (const auto refusal = protocol_->PlanPieces(file.size)) {
      report_.refusals.push_back(*refusal);
      if (!u_.questions.SendAnyway({*refusal})) {
        Ended(Stage::fileChecks, Result::refused, *refusal);
        return false;
      }
      report_.sentAnyway = true;
    }
    return ChoosePath(file.image.size(), Stage::fileChecks);
  }

  bool WholeImage() const {
    return r_.kind == UpdateRequest::Kind::dlmc && r_.mode && *r_.mode != kDlmcActivate &&
           !DlmcModeUsesOffsets(*r_.mode);
  }

  // What the drive's protocol takes of the image: for ATA, a whole image no
  // larger than the system's transfer to the disk, nor than SAT's count
  // where the bridge takes no length from the transfer.
  bool ImageFits(const FirmwareFile& file) {
    report_.stage = Stage::fileChecks;
    if (auto refusal = protocol_->ImageRefusal(file.size)) {
      Refuse(Stage::fileChecks, *refusal);
      return false;
    }
    return true;
  }

  // A refusal of the file, on the download's own line.
  void Refuse(Stage stage, const std::string& why) {
    u_.ops.host.LogLine(DownloadLinePrefix(report_.download.mode, fileName_) + why);
    Ended(stage, Result::refused, why);
  }

  UpdateReport& Verify() {
    if (!report_.download.Completed()) return report_;
    report_.stage = Stage::verify;
    report_.verified = true;
    protocol_->ReadBack(u_.clock);
    report_.stage = Stage::done;
    return report_;
  }

  UpdateContext& u_;
  TransportContext& t_;
  const UpdateRequest& r_;
  UpdateReport report_;
  std::unique_ptr<FirmwareProtocol> protocol_;
  DiskUse use_;
  std::uint32_t pieceBytes_ = 0;  // through the firmware interface
  std::string fileName_;
};

}  // namespace

bool IsWdcDrive(const IdentifyOutcome& identity) {
  if (identity.model.rfind("WDC ", 0) == 0) return true;
  if (identity.sector.size() < kSectorSize) return false;
  const std::optional<std::uint64_t> wwn =
      WorldWideNameOf(std::span(identity.sector).first<kSectorSize>());
  // NAA 5: the IEEE OUI follows the NAA's four bits.
  return wwn && (*wwn >> 60) == 5 && ((*wwn >> 36) & 0xFFFFFF) == kWdcOui;
}

std::string RevisionBefore(const UpdateReport& report) {
  return report.before.command && !report.before.firmware.empty() ? report.before.firmware
                                                                  : "(not read)";
}

std::string RevisionLine(const UpdateReport& report) {
  if (!report.verified) return {};
  const std::string before = RevisionBefore(report);
  if (!report.revisionAfter && report.revisionWaitStopped) {
    return "Firmware revision " + before + " -> not read: Break stopped the wait for IDENTIFY";
  }
  if (!report.revisionAfter) {
    return "Firmware revision " + before + " -> not read: the drive did not answer IDENTIFY within " +
           std::to_string(kReidentifyTimeLimit.count() / 1000) + " s";
  }
  if (report.slot) {
    const std::string image = report.slotRevision.empty() ? "the new firmware" : report.slotRevision;
    const std::string slot = std::to_string(*report.slot);
    if (report.storedOnly) {
      return "Firmware revision " + before + "; " + image + " is stored in slot " + slot +
             ", not activated (0F activates it)";
    }
    if (!report.waitsFor.empty()) {
      return "Firmware revision " + before + "; " + image + " waits in slot " + slot + " for " +
             report.waitsFor;
    }
  }
  if (report.download.mode == kDlmcDeferred && *report.revisionAfter == before) {
    return "Firmware revision " + before + "; the new firmware waits for activation (0F)";
  }
  std::string line = "Firmware revision " + before + " -> " + *report.revisionAfter;
  // The window's reader would take "A -> A" after "End - OK" for success.
  if (report.revisionUnchanged) {
    line += ": unchanged, where the download should have changed it (the image holds the same "
            "revision, or the drive did not apply it)";
  }
  return line;
}

UpdateReport RunUpdate(UpdateContext& u, const UpdateRequest& request) {
  u.ops.transport.state.BreakFlag = false;
  const OperationButtonsDisabled buttons(u.ops.host);
  return Procedure(u, request).Run();
}

}  // namespace brisquel
