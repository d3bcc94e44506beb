#include "sim/NvmeController.h"

#include <algorithm>
#include <sstream>
#include <vector>

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
  const int slot = identity_.activeSlot;
  return slot >= 1 && slot <= kNvmeMaxSlots ? identity_.slotRevisions[static_cast<std::size_t>(slot - 1)]
                                            : std::string();
}

NvmeAdminAnswer NvmeController::Execute(const NvmeAdminRequest& request) {
  history_.push_back(request.opcode);
  if (faults_.refuseOpcode && *faults_.refuseOpcode == request.opcode) {
    NvmeAdminAnswer answer;
    answer.status = faults_.refuseStatus;
    return answer;
  }
  switch (request.opcode) {
    case kNvmeIdentify:
      return IdentifyController(request);
    case kNvmeGetLogPage:
      return GetLogPage(request);
    default:
      // Firmware Image Download and Commit come with the firmware update.
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

std::string NvmeController::SaveFirmwareState() const {
  std::ostringstream out;
  out << "active = " << identity_.activeSlot << "\n";
  out << "next = " << identity_.nextSlot << "\n";
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
