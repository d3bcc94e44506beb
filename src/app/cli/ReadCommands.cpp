// The commands that read: list, scan, identify and info, with the target
// resolution and selection every drive command starts with.
#include <algorithm>
#include <cstdio>
#include <span>

#include "app/cli/Session.h"
#include "discovery/PciScan.h"
#include "discovery/uSetupApiEnum.h"
#include "ops/DriveCapabilities.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"
#include "ops/WorldWideName.h"
#include "text/Trim.h"
#include "transport/SatForms.h"
#include "transport/uAtaPass.h"
#include "ui/TargetSelection.h"

namespace brisquel::cli {

namespace {

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

const char* TransportName(TransportKind kind) {
  switch (kind) {
    case TransportKind::ataPassThrough:
      return "ATA pass-through";
    case TransportKind::scsiPassThrough:
      return "SCSI pass-through (SAT)";
    case TransportKind::nvme:
      return "NVMe admin commands";
    case TransportKind::pio:
      break;
  }
  return "PIO";
}

// Swallows the log lines of the selections and reads `inventory` makes, so
// that each drive is one line of the inventory and nothing else.
class QuietHost : public UiHost {
 public:
  explicit QuietHost(UiHost& host) : host_(host) {}
  void PumpMessages() override { host_.PumpMessages(); }
  bool KeyHeld(Key key) override { return host_.KeyHeld(key); }
  void LogLine(const std::string&) override {}

 private:
  UiHost& host_;
};

}  // namespace

// Without port I/O a PCI scan finds nothing and a PIO wait never ends: say why
// instead.
bool Session::RefusedPortIo() {
  if (portRefusal_) reporter_.Problem(*portRefusal_);
  return portRefusal_.has_value();
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
  NoDrivesNote(b);
  return kExitOk;
}

// An empty answer is still an answer, but not one to leave unexplained.
void Session::NoDrivesNote(Bench& b) {
  if (!drives_.empty()) return;
  reporter_.Note(b.backend.Bench() ? "no drives found: the bench describes no disk"
                 : administrator_
                     ? "no drives found: the system lists no disk that Brisquel can address"
                     : std::string("no drives found: without administrator rights the system "
                                   "may show none") +
                           kRightsHint);
}

// Selects the drive and reads its IDENTIFY data, as `info` would, without a
// log line; a drive that cannot be opened or does not answer keeps the reason.
DriveFacts Session::Survey(Bench& b, const DriveRow& row) {
  const TST_PhysicalDrive& drive = b.state.DriveTable[static_cast<std::size_t>(row.index)];
  DriveFacts facts;
  facts.row = row;
  facts.maxTransfer = drive.MaxTransferLength;
  facts.use = b.backend.Users().OfDisk(drive.DevicePath);
  QuietHost quiet(b.host);
  TransportContext t{b.state, b.ports, b.io, quiet, b.trace};
  const Selected selected = SelectDriveTarget(t, drive, options_.sat);
  if (selected != Selected::ready) {
    facts.problem = selected == Selected::openFailed ? OpenFailure("the drive", b.io, administrator_)
                                                     : "cannot select it";
    return facts;
  }
  const DriveTarget& target = b.state.DriveTarget;
  facts.transport = TransportName(target.kind);
  IdentifyOutcome identity = ReadIdentity(t);
  if (target.kind == TransportKind::scsiPassThrough) {
    facts.satForm = target.satFormFound == SatFormFound::refused ? "none"
                                                                 : SatFormName(TargetSatForm(target));
  }
  if (!identity.command) {
    facts.problem = IdentifyFailureLine(identity) + RightsHint(identity.command);
    return facts;
  }
  if (!identity.Answered()) {
    facts.problem = ValidityText(identity.validity);
    return facts;
  }
  const auto sector = std::span(identity.sector).first<kSectorSize>();
  facts.capabilities = CapabilitiesOf(sector);
  facts.wwn = WorldWideNameOf(sector);
  const FirmwareInterfaceInfo& f = b.state.FirmwareInterface;
  if (b.io.HasFirmwareInterface() && f.onThisSystem && f.systemError == 0) {
    facts.pendingActivation = f.pendingSlot != 0xFF && f.pendingSlot != f.activeSlot;
  }
  facts.identity = std::move(identity);
  return facts;
}

int Session::Inventory(Bench& b) {
  ReadDrives(b);
  for (const DriveRow& row : drives_) {
    if (Interrupted(b.state)) break;
    const DriveFacts& f = facts_.emplace_back(Survey(b, row));
    std::string line = std::to_string(row.index) + "\t" + row.busType + "\t" + row.path + "\t";
    if (!f.identity) {
      reporter_.Print(line + "not read: " + f.problem);
      continue;
    }
    const DiskUse& use = f.use;
    const std::string inUse =
        use.state == DiskUse::State::free    ? "free"
        : use.state == DiskUse::State::inUse ? (use.system != RunningSystem::none
                                                    ? "running system: "
                                                    : "in use: ") + use.what
                                             : "unknown: " + use.what;
    line += f.identity->model + "\t" + f.identity->serial + "\t" + f.identity->firmware + "\t" +
            (f.wwn ? WorldWideNameText(*f.wwn) : "-") + "\t" + f.transport + "\t" +
            SaidName(f.capabilities->dlmcSupported) + "\t" +
            (f.maxTransfer ? std::to_string(f.maxTransfer) : "-") + "\t" + inUse;
    if (f.pendingActivation) line += *f.pendingActivation ? "\tpending activation" : "\tnone pending";
    reporter_.Print(line);
  }
  NoDrivesNote(b);
  if (Interrupted(b.state)) {
    reporter_.Problem("interrupted");
    return kExitInterrupted;
  }
  return kExitOk;
}

std::string Session::NameText() const {
  const Target& t = options_.target;
  std::string text;
  if (t.serial) text = "serial " + *t.serial;
  if (t.wwn) text += (text.empty() ? "" : " and ") + std::string("world wide name ") + WorldWideNameText(*t.wwn);
  return text;
}

// What this identity reports where it differs from the --serial/--wwn asked
// for; empty when it is the drive they name.
std::string Session::NamedMismatch(const IdentifyOutcome& identity) const {
  const Target& t = options_.target;
  if (t.kind != TargetKind::named) return {};
  std::string says;
  if (t.serial && Trim(identity.serial) != *t.serial) says = "serial " + identity.serial;
  if (t.wwn && identity.sector.size() >= kSectorSize) {
    const auto wwn = WorldWideNameOf(std::span(identity.sector).first<kSectorSize>());
    if (wwn != t.wwn) {
      says += (says.empty() ? "" : " and ") + std::string("world wide name ") +
              (wwn ? WorldWideNameText(*wwn) : "none");
    }
  } else if (t.wwn) {
    says += (says.empty() ? "" : " and ") + std::string("no world wide name");
  }
  return says;
}

std::string Session::NotNamedDrive(const IdentifyOutcome& identity) const {
  const std::string says = NamedMismatch(identity);
  if (says.empty()) return {};
  return target_->description + " now reports " + says + ", not " + NameText();
}

// The one drive of the list that reports the serial number and world wide
// name asked for. None or several is a refusal: nothing is sent then.
std::optional<int> Session::FindNamedDrive(Bench& b, TargetInfo& info) {
  ReadDrives(b);
  std::vector<std::size_t> matches;  // in facts_
  std::string unread;
  for (const DriveRow& row : drives_) {
    if (Interrupted(b.state)) {
      reporter_.Problem("interrupted while looking for the drive");
      return kExitInterrupted;
    }
    const DriveFacts& f = facts_.emplace_back(Survey(b, row));
    if (!f.identity) {
      unread += "; --drive " + std::to_string(row.index) + " not read: " + f.problem;
      continue;
    }
    if (NamedMismatch(*f.identity).empty()) matches.push_back(facts_.size() - 1);
  }
  if (matches.size() != 1) {
    std::string which;
    for (std::size_t m : matches) {
      const DriveRow& row = facts_[m].row;
      which += (which.empty() ? ": " : ", ") + std::string("--drive ") +
               std::to_string(row.index) + " (" + row.path + ")";
    }
    reporter_.Problem(matches.empty()
                          ? "no drive reports " + NameText() + " (" +
                                std::to_string(drives_.size()) + " in `list`" + unread +
                                "); nothing was sent"
                          : std::to_string(matches.size()) + " drives report " + NameText() +
                                which + "; name one by --drive N or --wwn W; nothing was sent");
    return kExitRefused;
  }
  const DriveFacts& found = facts_[matches.front()];
  info.drive = found.row;
  info.description = "\"" + found.row.name + "\" (" + NameText() + ", --drive " +
                     std::to_string(found.row.index) + ", " + found.row.path + ")";
  return std::nullopt;
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
  if (t.kind == TargetKind::named) {
    if (auto code = FindNamedDrive(b, info)) return code;
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

int Session::NvmeDriveInfo(Bench& b) {
  TransportContext t{b.state, b.ports, b.io, b.host, b.trace};
  nvmeInfo_ = ReadNvmeInfo(t);
  const NvmeInfo& info = *nvmeInfo_;
  identity_ = info.identity;
  if (!identity_->command) {
    reporter_.Problem(IdentifyFailureLine(*identity_) + RightsHint(identity_->command));
    return kExitDriveFailure;
  }
  if (!info.controller) {
    reporter_.Problem(ValidityText(identity_->validity));
    return kExitDriveFailure;
  }
  const NvmeControllerFacts& c = *info.controller;
  transport_ = TransportName(b.state.DriveTarget.kind);
  const auto yesNo = [](bool v) { return std::string(v ? "yes" : "no"); };
  std::vector<std::pair<std::string, std::string>> rows = {
      {"model", c.model},
      {"firmware", c.firmware},
      {"serial", c.serial},
      {"transport", transport_},
      {"firmware-commands", yesNo(c.firmwareCommands)},
      {"slots", std::to_string(c.slotCount)},
      {"slot1-read-only", yesNo(c.slot1ReadOnly)},
      {"activate-without-reset", yesNo(c.activateWithoutReset)},
      {"fwug", FwugText(c.fwug)},
      {"mdts", MdtsText(c.mdts)},
      {"mtfa", MtfaText(c.mtfa)},
  };
  if (info.slots) {
    const NvmeSlotLog& log = *info.slots;
    rows.push_back({"active-slot", std::to_string(log.activeSlot)});
    rows.push_back({"next-slot", log.nextSlot ? std::to_string(log.nextSlot) : "none"});
    // The log holds seven; only the slots the controller has are its own.
    for (int slot = 1; slot <= std::max(c.slotCount, 1) && slot <= kNvmeMaxSlots; ++slot) {
      const std::string& revision = log.revisions[static_cast<std::size_t>(slot - 1)];
      rows.push_back({"slot" + std::to_string(slot), revision.empty() ? "(empty)" : revision});
    }
  }
  for (const auto& [key, value] : rows) reporter_.Print(key + "\t" + value);
  if (b.io.HasFirmwareInterface()) {
    // What the driver states of the disk (slots, alignment, largest piece):
    // the only way an update reaches an NVMe drive on Windows.
    firmwareInterface_ = b.state.FirmwareInterface;
    firmwareInterfaceLine_ =
        FirmwareInterfaceSummary(*firmwareInterface_, TransportKind::nvme, b.io);
    reporter_.Print("system-firmware-interface\t" + firmwareInterfaceLine_);
  }
  if (!info.slots) {
    if (Interrupted(b.state)) {
      reporter_.Problem("interrupted");
      return kExitInterrupted;
    }
    reporter_.Problem("the firmware slot log cannot be read: " + info.logFailure);
    return kExitDriveFailure;
  }
  const NvmeSlotLog& log = *info.slots;
  const auto revisionIn = [&log](int slot) -> const std::string& {
    return log.revisions[static_cast<std::size_t>(std::clamp(slot, 1, kNvmeMaxSlots) - 1)];
  };
  if (log.nextSlot != 0) {
    const std::string& next = revisionIn(log.nextSlot);
    reporter_.Note((next.empty() ? std::string("the image") : next) + " in slot " +
                   std::to_string(log.nextSlot) + " runs after the next reset; " + c.firmware +
                   " runs until then");
  }
  // An image written over the active slot waits for the reset like any
  // other: until then the slot holds what does not run yet.
  if (c.firmware != revisionIn(log.activeSlot) && log.nextSlot != log.activeSlot) {
    reporter_.Warning("Identify's revision " + c.firmware + " is not the active slot's (" +
                      std::to_string(log.activeSlot) + ")");
  }
  return kExitOk;
}

int Session::Info(Bench& b) {
  if (b.state.DriveTarget.kind == TransportKind::nvme) return NvmeDriveInfo(b);
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
  if (const std::string other = NotNamedDrive(*identity_); !other.empty()) {
    reporter_.Problem(other);
    return kExitRefused;
  }
  if (identity_->validity != IdentifyValidity::valid) {
    reporter_.Warning(ValidityText(identity_->validity));
  }
  capabilities_ = CapabilitiesOf(std::span(identity_->sector).first<kSectorSize>());
  const DriveCapabilities& c = *capabilities_;
  transport_ = TransportName(b.state.DriveTarget.kind);
  // What a whole image (01, 07) must fit, since it goes in one command.
  std::string maxTransfer = "none (PIO)";
  if (target_->drive) {
    const std::uint32_t bytes =
        b.state.DriveTable[static_cast<std::size_t>(target_->drive->index)].MaxTransferLength;
    if (bytes != 0) maxTransfer_ = bytes;
    maxTransfer = bytes != 0 ? std::to_string(bytes) : "not known";
  }
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
      {"max-transfer", maxTransfer},
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
  if (const std::string other = NotNamedDrive(*identity_); identity_->Answered() && !other.empty()) {
    reporter_.Problem(other);
    return kExitRefused;
  }
  return identity_->Answered() ? kExitOk : kExitDriveFailure;
}

}  // namespace brisquel::cli
