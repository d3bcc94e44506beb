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
    // What the driver states of the disk (slots, alignment, largest piece),
    // read as for an ATA disk: sending firmware through it is a later step.
    firmwareInterface_ = b.state.FirmwareInterface;
    firmwareInterfaceLine_ =
        FirmwareInterfaceSummary(*firmwareInterface_, TransportKind::ataPassThrough, b.io);
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
  if (c.firmware != info.slots->revisions[static_cast<std::size_t>(
                        std::clamp(info.slots->activeSlot, 1, kNvmeMaxSlots) - 1)]) {
    reporter_.Warning("Identify's revision " + c.firmware + " is not the active slot's (" +
                      std::to_string(info.slots->activeSlot) + ")");
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

}  // namespace brisquel::cli
