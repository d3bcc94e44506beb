#include "sim/NvmeController.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "sim/BenchFirmware.h"
#include "text/Escape.h"

namespace brisquel::sim {
namespace {

NvmeAdminAnswer Status(std::uint8_t type, std::uint8_t code, bool dnr = true) {
  NvmeAdminAnswer answer;
  answer.status = {type, code, dnr};
  return answer;
}

// ASCII, space padded, never past the field.
void PutText(std::vector<std::uint8_t>& data, std::size_t at, std::size_t size,
             const std::string& text) {
  for (std::size_t i = 0; i < size; ++i) {
    data[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
  }
}

// Data-in as a controller moves it: as much as fits the host's buffer.
NvmeAdminAnswer DataIn(const NvmeAdminRequest& request, const std::vector<std::uint8_t>& data) {
  NvmeAdminAnswer answer;
  const std::size_t n = std::min(request.data.size(), data.size());
  std::copy_n(data.begin(), n, request.data.begin());
  std::fill(request.data.begin() + static_cast<std::ptrdiff_t>(n), request.data.end(),
            std::uint8_t{0});
  answer.bytesMoved = static_cast<std::uint32_t>(n);
  return answer;
}

}  // namespace

std::string NvmeController::Revision() const {
  if (identity_.running) return *identity_.running;
  const int slot = identity_.activeSlot;
  return slot >= 1 && slot <= kNvmeMaxSlots ? identity_.slotRevisions[static_cast<std::size_t>(slot - 1)]
                                            : std::string();
}

NvmeAdminAnswer NvmeController::Execute(const NvmeAdminRequest& request) {
  history_.push_back(request.opcode);
  if (faults_.refuseOpcode && *faults_.refuseOpcode == request.opcode) {
    const NvmeStatus refusal = faults_.refuseStatus;
    const bool resetNeeded = refusal.type == kNvmeTypeCommandSpecific &&
                             (refusal.code == kNvmeNeedsConventionalReset ||
                              refusal.code == kNvmeNeedsSubsystemReset ||
                              refusal.code == kNvmeNeedsControllerReset);
    if (request.opcode == kNvmeFirmwareCommit && resetNeeded) {
      const int active = identity_.activeSlot;
      const std::string runs = Revision();
      NvmeAdminAnswer answer = Commit(request);
      if (!answer.status.ok()) return answer;
      // Stored, and waiting for that reset instead of running now.
      if (identity_.activeSlot != active || Revision() != runs) {
        identity_.nextSlot = identity_.activeSlot;
        identity_.activeSlot = active;
        identity_.running.reset();
        if (Revision() != runs) identity_.running = runs;
      }
    }
    NvmeAdminAnswer answer;
    answer.status = refusal;
    return answer;
  }
  switch (request.opcode) {
    case kNvmeIdentify:
      return IdentifyController(request);
    case kNvmeGetLogPage:
      return GetLogPage(request);
    case kNvmeFirmwareImageDownload:
      return ImageDownload(request);
    case kNvmeFirmwareCommit:
      return Commit(request);
    default:
      return Status(kNvmeTypeGeneric, kNvmeInvalidOpcode);
  }
}

NvmeAdminAnswer NvmeController::IdentifyController(const NvmeAdminRequest& request) const {
  if ((request.cdw[0] & 0xFF) != kNvmeCnsController || request.direction != DataDirection::in) {
    return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  }
  const NvmeIdentity& id = identity_;
  std::vector<std::uint8_t> data(kNvmeIdentifyBytes);
  PutText(data, kNvmeIdSerial, kNvmeIdSerialBytes, id.serial);
  PutText(data, kNvmeIdModel, kNvmeIdModelBytes, id.model);
  PutText(data, kNvmeIdFirmware, kNvmeIdFirmwareBytes, Revision());
  data[kNvmeIdMdts] = id.mdts;
  const std::uint16_t oacs = id.firmwareCommands ? kNvmeOacsFirmware : 0;
  data[kNvmeIdOacs] = static_cast<std::uint8_t>(oacs);
  data[kNvmeIdOacs + 1] = static_cast<std::uint8_t>(oacs >> 8);
  data[kNvmeIdFrmw] = static_cast<std::uint8_t>(
      (id.slot1ReadOnly ? kNvmeFrmwSlot1ReadOnly : 0) | (id.slotCount & 7) << kNvmeFrmwSlotsShift |
      (id.activateWithoutReset ? kNvmeFrmwActivateWithoutReset : 0));
  data[kNvmeIdMtfa] = static_cast<std::uint8_t>(id.mtfa);
  data[kNvmeIdMtfa + 1] = static_cast<std::uint8_t>(id.mtfa >> 8);
  data[kNvmeIdFwug] = id.fwug;
  return DataIn(request, data);
}

NvmeAdminAnswer NvmeController::GetLogPage(const NvmeAdminRequest& request) const {
  if ((request.cdw[0] & 0xFF) != kNvmeLogFirmwareSlots) {
    return Status(kNvmeTypeCommandSpecific, kNvmeInvalidLogPage);
  }
  if (request.direction != DataDirection::in) return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  const NvmeIdentity& id = identity_;
  std::vector<std::uint8_t> data(kNvmeFirmwareSlotLogBytes);
  data[0] = static_cast<std::uint8_t>((id.activeSlot & 7) | (id.nextSlot & 7) << 4);
  for (int slot = 0; slot < id.slotCount && slot < kNvmeMaxSlots; ++slot) {
    const std::string& revision = id.slotRevisions[static_cast<std::size_t>(slot)];
    // An empty slot reads as zeros.
    if (revision.empty()) continue;
    PutText(data, kNvmeSlotLogFirstRevision + 8 * static_cast<std::size_t>(slot), 8, revision);
  }
  return DataIn(request, data);
}

NvmeAdminAnswer NvmeController::ImageDownload(const NvmeAdminRequest& request) {
  const NvmeIdentity& id = identity_;
  const std::uint64_t bytes = (std::uint64_t{request.cdw[0]} + 1) * 4;
  const std::uint64_t offset = std::uint64_t{request.cdw[1]} * 4;
  if (request.direction != DataDirection::out || request.data.size() != bytes) {
    return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  }
  // More than the controller's largest transfer.
  if (id.mdts != 0 && id.mdts < 20 && bytes > (std::uint64_t{4096} << id.mdts)) {
    return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  }
  // Pieces start on the update granularity; only the last may be shorter.
  if (id.fwug != 0 && id.fwug != kNvmeFwugAny && offset % (std::uint64_t{4096} * id.fwug) != 0) {
    return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  }
  if (offset == 0) image_.clear();
  if (offset < image_.size()) return Status(kNvmeTypeCommandSpecific, kNvmeOverlappingRange);
  if (offset > image_.size()) return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  image_.insert(image_.end(), request.data.begin(), request.data.end());
  NvmeAdminAnswer answer;
  answer.bytesMoved = static_cast<std::uint32_t>(bytes);
  return answer;
}

NvmeAdminAnswer NvmeController::Commit(const NvmeAdminRequest& request) {
  NvmeIdentity& id = identity_;
  const int slot = static_cast<int>(request.cdw[0] & 7);
  const std::uint8_t action = (request.cdw[0] >> kNvmeCommitActionShift) & 7;
  if (request.direction != DataDirection::none || action > kNvmeCommitActivateNow) {
    return Status(kNvmeTypeGeneric, kNvmeInvalidField);
  }
  // The bench's controller never chooses a slot itself.
  if (slot == 0 || slot > id.slotCount) return Status(kNvmeTypeCommandSpecific, kNvmeInvalidSlot);
  std::string& revision = id.slotRevisions[static_cast<std::size_t>(slot - 1)];
  const bool stores = action != kNvmeCommitActivateAtReset;
  // Action 3 with no new image activates what the slot holds.
  if (stores && !(action == kNvmeCommitActivateNow && image_.empty())) {
    if (slot == 1 && id.slot1ReadOnly) return Status(kNvmeTypeCommandSpecific, kNvmeInvalidSlot);
    const BenchFirmwareVerdict verdict = CheckBenchFirmware(image_);
    image_.clear();
    if (verdict.check != BenchFirmwareCheck::valid) {
      return Status(kNvmeTypeCommandSpecific, kNvmeInvalidImage);
    }
    if (slot == id.activeSlot && !id.running) id.running = revision;
    revision = verdict.revision;
  } else if (revision.empty()) {
    return Status(kNvmeTypeCommandSpecific, kNvmeInvalidImage);
  }
  switch (action) {
    case kNvmeCommitStoreAtReset:
    case kNvmeCommitActivateAtReset:
      id.nextSlot = slot;
      break;
    case kNvmeCommitActivateNow:
      if (!id.activateWithoutReset) {
        id.nextSlot = slot;
        return Status(kNvmeTypeCommandSpecific, kNvmeNeedsConventionalReset, false);
      }
      id.activeSlot = slot;
      id.nextSlot = 0;
      id.running.reset();
      break;
    default:
      break;
  }
  return {};
}

void NvmeController::PowerCycle() {
  if (identity_.nextSlot != 0) identity_.activeSlot = identity_.nextSlot;
  identity_.nextSlot = 0;
  identity_.running.reset();
  image_.clear();
}

std::string NvmeController::SaveFirmwareState() const {
  std::ostringstream out;
  out << "active = " << identity_.activeSlot << "\n";
  out << "next = " << identity_.nextSlot << "\n";
  if (identity_.running) out << "running = " << EscapeText(*identity_.running) << "\n";
  for (int slot = 0; slot < identity_.slotCount; ++slot) {
    out << "slot" << slot + 1 << " = " << EscapeText(identity_.slotRevisions[static_cast<std::size_t>(slot)])
        << "\n";
  }
  return out.str();
}

bool NvmeController::LoadFirmwareState(const std::string& text) {
  NvmeIdentity loaded = identity_;
  std::istringstream in(text);
  std::string line;
  bool active = false;
  while (std::getline(in, line)) {
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) return false;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 3);
    const auto number = [&](int max) -> std::optional<int> {
      if (value.size() != 1 || value[0] < '0' || value[0] - '0' > max) return std::nullopt;
      return value[0] - '0';
    };
    if (key == "active") {
      const auto n = number(loaded.slotCount);
      if (!n || *n == 0) return false;
      loaded.activeSlot = *n;
      active = true;
    } else if (key == "running") {
      const std::optional<std::string> revision = UnescapeText(value);
      if (!revision || revision->empty() || revision->size() > 8) return false;
      loaded.running = *revision;
    } else if (key == "next") {
      const auto n = number(loaded.slotCount);
      if (!n) return false;
      loaded.nextSlot = *n;
    } else if (key.size() == 5 && key.starts_with("slot") && key[4] >= '1' &&
               key[4] - '0' <= loaded.slotCount) {
      const std::optional<std::string> revision = UnescapeText(value);
      if (!revision || revision->size() > 8) return false;
      loaded.slotRevisions[static_cast<std::size_t>(key[4] - '1')] = *revision;
    } else {
      return false;
    }
  }
  if (!active) return false;
  identity_ = loaded;
  return true;
}

}  // namespace brisquel::sim
