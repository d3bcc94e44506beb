// The --json document.
#include <string>

#include "app/cli/Json.h"
#include "app/cli/Session.h"
#include "ops/DlmcModes.h"
#include "ops/DownloadCheck.h"
#include "ops/ErrorCodeNames.h"
#include "ops/StandardDownload.h"
#include "ops/WorldWideName.h"

namespace brisquel::cli {

namespace {

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

// Yes and no as booleans, what the drive leaves unsaid as null.
void WriteSaid(JsonWriter& json, Said said) {
  said == Said::notSaid ? json.Null() : json.Bool(said == Said::yes);
}

void WriteCapabilities(JsonWriter& json, const DriveCapabilities& c) {
  const auto blocks = [&](std::optional<std::uint16_t> v) { v ? json.Int(*v) : json.Null(); };
  json.Key("info").BeginObject();
  json.Key("sectors").Int(static_cast<std::int64_t>(c.sectors));
  json.Key("capacityBytes").Int(static_cast<std::int64_t>(c.sectors * kSectorSize));
  json.Key("dlmcSupported"), WriteSaid(json, c.dlmcSupported);
  json.Key("dlmcEnabled"), WriteSaid(json, c.dlmcEnabled);
  json.Key("dlmcOffsetsSupported"), WriteSaid(json, c.offsetsSupported);
  json.Key("dlmcOffsetsEnabled"), WriteSaid(json, c.offsetsEnabled);
  json.Key("segmentMinBlocks"), blocks(c.segmentMin);
  json.Key("segmentMaxBlocks"), blocks(c.segmentMax);
  json.Key("smartSupported"), WriteSaid(json, c.smartSupported);
  json.Key("smartEnabled"), WriteSaid(json, c.smartEnabled);
  json.EndObject();
}

void WriteDriveFacts(JsonWriter& json, const DriveFacts& f) {
  const auto text = [&](const std::string* value) { value ? json.String(*value) : json.Null(); };
  const IdentifyOutcome* id = f.identity ? &*f.identity : nullptr;
  json.BeginObject().Key("index").Int(f.row.index).Key("busType").String(f.row.busType);
  json.Key("name").String(f.row.name).Key("path").String(f.row.path);
  json.Key("maxTransferBytes");
  f.maxTransfer ? json.Int(f.maxTransfer) : json.Null();
  json.Key("inUse");
  f.use.state == DiskUse::State::unknown ? json.Null() : json.Bool(f.use.state == DiskUse::State::inUse);
  // What holds the disk, or why that cannot be told.
  json.Key("usedBy");
  f.use.what.empty() ? json.Null() : json.String(f.use.what);
  json.Key("runningSystem").Bool(f.use.system != RunningSystem::none);
  json.Key("answered").Bool(id != nullptr);
  json.Key("problem");
  id ? json.Null() : json.String(f.problem);
  json.Key("model"), text(id ? &id->model : nullptr);
  json.Key("serial"), text(id ? &id->serial : nullptr);
  json.Key("firmware"), text(id ? &id->firmware : nullptr);
  json.Key("wwn");
  f.wwn ? json.String(WorldWideNameText(*f.wwn)) : json.Null();
  json.Key("transport");
  f.transport.empty() ? json.Null() : json.String(f.transport);
  json.Key("satForm");
  f.satForm.empty() ? json.Null() : json.String(f.satForm);
  if (f.capabilities) {
    WriteCapabilities(json, *f.capabilities);
  } else {
    json.Key("info").Null();
  }
  json.Key("pendingActivation");
  f.pendingActivation ? json.Bool(*f.pendingActivation) : json.Null();
  json.EndObject();
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

// The raw figures, as Identify and the slot log give them: a script does its
// own arithmetic. The slots are there only when the log was read.
void WriteNvmeInfo(JsonWriter& json, const NvmeInfo& info) {
  const NvmeControllerFacts& c = *info.controller;
  json.Key("nvme").BeginObject();
  json.Key("firmwareCommands").Bool(c.firmwareCommands);
  json.Key("slots").Int(c.slotCount);
  json.Key("slot1ReadOnly").Bool(c.slot1ReadOnly);
  json.Key("activateWithoutReset").Bool(c.activateWithoutReset);
  json.Key("fwug").Int(c.fwug);
  json.Key("mdts").Int(c.mdts);
  json.Key("mtfa").Int(c.mtfa);
  if (info.slots) {
    json.Key("activeSlot").Int(info.slots->activeSlot);
    json.Key("nextSlot");
    info.slots->nextSlot ? json.Int(info.slots->nextSlot) : json.Null();
    json.Key("slotRevisions").BeginArray();
    for (int slot = 0; slot < c.slotCount && slot < kNvmeMaxSlots; ++slot) {
      const std::string& revision = info.slots->revisions[static_cast<std::size_t>(slot)];
      revision.empty() ? json.Null() : json.String(revision);
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

}  // namespace

void Session::WriteJson(JsonWriter& json, int exitCode) const {
  json.Key("command").String(CommandName(options_.command));
  json.Key("sim").Bool(options_.sim);
  if (options_.benchFile) json.Key("bench").String(*options_.benchFile);
  if (target_) {
    json.Key("target").BeginObject();
    if (target_->drive) json.Key("drive"), WriteDrive(json, *target_->drive);
    if (target_->channel) json.Key("channel"), WriteChannel(json, *target_->channel);
    if (target_->port) json.Key("port").String(Hex(*target_->port, 4));
    const Target& asked = options_.target;
    if (asked.serial) json.Key("serial").String(*asked.serial);
    if (asked.wwn) json.Key("wwn").String(WorldWideNameText(*asked.wwn));
    if (!target_->drive) json.Key("device").Int(options_.device.value_or(0));
    json.EndObject();
  }
  if (options_.command == Command::list) {
    json.Key("drives").BeginArray();
    for (const auto& d : drives_) WriteDrive(json, d);
    json.EndArray();
  }
  if (options_.command == Command::inventory) {
    json.Key("drives").BeginArray();
    for (const auto& f : facts_) WriteDriveFacts(json, f);
    json.EndArray();
  }
  if (options_.command == Command::scan) {
    json.Key("channels").BeginArray();
    for (const auto& c : channels_) WriteChannel(json, c);
    json.EndArray();
  }
  if (options_.command == Command::benchPowerCycle) {
    json.Key("drives").BeginArray();
    for (const PowerCycled& d : powerCycled_) {
      json.BeginObject().Key("name").String(d.name).Key("before").String(d.before);
      json.Key("after").String(d.after).EndObject();
    }
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
    json.Key("serial").String(identity_->serial);
    std::optional<std::uint64_t> wwn;
    if (identity_->sector.size() >= kSectorSize) {
      wwn = WorldWideNameOf(std::span(identity_->sector).first<kSectorSize>());
    }
    json.Key("wwn");
    wwn ? json.String(WorldWideNameText(*wwn)) : json.Null();
    json.EndObject();
  }
  if (download_) WriteDownload(json, *download_, options_.file.value_or(download_->file));
  if (activated_) json.Key("activated").Bool(*activated_);
  if (options_.command == Command::info && capabilities_) {
    WriteCapabilities(json, *capabilities_);
    json.Key("transport").String(transport_);
    json.Key("maxTransferBytes");
    maxTransfer_ ? json.Int(*maxTransfer_) : json.Null();
    if (!satForm_.empty()) json.Key("satForm").String(satForm_);
    if (firmwareInterface_) WriteFirmwareInterface(json, *firmwareInterface_, firmwareInterfaceLine_);
  }
  if (options_.command == Command::info && nvmeInfo_ && nvmeInfo_->controller) {
    WriteNvmeInfo(json, *nvmeInfo_);
    json.Key("transport").String(transport_);
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
  if (update_ && update_->pieceBytes) {
    json.Key("pieceBytes").Int(static_cast<int>(*update_->pieceBytes));
  }
  if (update_ && update_->slot && update_->verified) {
    const UpdateReport& u = *update_;
    json.Key("nvmeSlot").BeginObject().Key("slot").Int(*u.slot).Key("revision");
    u.slotRevision.empty() ? json.Null() : json.String(u.slotRevision);
    json.Key("waitsFor");
    u.waitsFor.empty() ? json.Null() : json.String(u.waitsFor);
    json.Key("storedOnly").Bool(u.storedOnly).EndObject();
  }
  json.Key("interrupted").Bool(exitCode == kExitInterrupted);
}

std::string JsonDocument(const Session* session, const Reporter& reporter, int code) {
  JsonWriter doc;
  doc.BeginObject().Key("schema").Int(kJsonSchema);
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
  return doc.Text();
}

}  // namespace brisquel::cli
