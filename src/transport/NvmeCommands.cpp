#include "transport/NvmeCommands.h"

#include <chrono>
#include <cstdio>

#include "transport/CommandObserver.h"
#include "transport/DeviceCall.h"

namespace brisquel {

NvmeAdminRequest IdentifyControllerRequest(std::span<std::uint8_t, kNvmeIdentifyBytes> data) {
  NvmeAdminRequest request;
  request.opcode = kNvmeIdentify;
  request.cdw[0] = kNvmeCnsController;
  request.direction = DataDirection::in;
  request.data = data;
  return request;
}

NvmeAdminRequest FirmwareSlotLogRequest(
    std::span<std::uint8_t, kNvmeFirmwareSlotLogBytes> data) {
  NvmeAdminRequest request;
  request.opcode = kNvmeGetLogPage;
  request.nsid = 0xFFFFFFFFu;
  // CDW10: LID in bits 7:0, the number of dwords less one in bits 31:16.
  constexpr std::uint32_t numd = kNvmeFirmwareSlotLogBytes / 4 - 1;
  request.cdw[0] = kNvmeLogFirmwareSlots | numd << 16;
  request.direction = DataDirection::in;
  request.data = data;
  return request;
}

NvmeAdminRequest FirmwareImageDownloadRequest(std::span<std::uint8_t> piece,
                                              std::uint32_t offsetBytes) {
  NvmeAdminRequest request;
  request.opcode = kNvmeFirmwareImageDownload;
  // CDW10: NUMD, dwords less one; CDW11: OFST, in dwords.
  request.cdw[0] = static_cast<std::uint32_t>(piece.size() / 4 - 1);
  request.cdw[1] = offsetBytes / 4;
  request.direction = DataDirection::out;
  request.data = piece;
  return request;
}

NvmeAdminRequest FirmwareCommitRequest(std::uint8_t slot, std::uint8_t action) {
  NvmeAdminRequest request;
  request.opcode = kNvmeFirmwareCommit;
  request.cdw[0] = static_cast<std::uint32_t>((slot & 7) | (action & 7) << kNvmeCommitActionShift);
  return request;
}

NvmeCommandOutcome SendNvmeAdmin(TransportContext& t, const NvmeAdminRequest& request) {
  const DriveTarget& target = t.state.DriveTarget;
  if (t.observer) t.observer->NvmeCommandStarting(target, request);
  const auto start = std::chrono::steady_clock::now();
  const OsHandle handle = target.ataPassHandle;
  NvmeCommandOutcome outcome;
  outcome.answer = CallDevice<NvmeAdminAnswer>(t, [&] { return t.io.NvmeAdmin(handle, request); });
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - start);
  if (t.observer) t.observer->NvmeCommandEnded(target, request, outcome.answer, elapsed);
  const NvmeAdminAnswer& a = outcome.answer;
  CommandResult& r = outcome.result;
  if (!a.delivered) {
    r.end = a.systemError == win32::ERROR_SEM_TIMEOUT_ ? CommandEnd::timedOut
                                                       : CommandEnd::systemRefused;
    r.systemError = a.systemError;
  } else {
    r.nvmeStatus = a.status.Field();
    r.end = a.status.ok() ? CommandEnd::completed : CommandEnd::deviceError;
  }
  // Break is seen between any two commands, as on the other transports.
  t.host.PumpMessages();
  return outcome;
}

namespace {

const char* GenericName(std::uint8_t code) {
  switch (code) {
    case 0x01: return "invalid command opcode";
    case 0x02: return "invalid field in command";
    case 0x04: return "data transfer error";
    case 0x06: return "internal error";
    case 0x07: return "command abort requested";
    case 0x0B: return "invalid namespace or format";
    default: return nullptr;
  }
}

const char* CommandSpecificName(std::uint8_t code) {
  switch (code) {
    case 0x06: return "invalid firmware slot";
    case 0x07: return "invalid firmware image";
    case 0x09: return "invalid log page";
    case 0x0B: return "firmware activation requires a conventional reset";
    case 0x10: return "firmware activation requires an NVM subsystem reset";
    case 0x11: return "firmware activation requires a controller reset";
    case 0x12: return "firmware activation requires the maximum time to be exceeded";
    case 0x13: return "firmware activation prohibited";
    case 0x14: return "overlapping range";
    default: return nullptr;
  }
}

}  // namespace

std::string NvmeStatusWords(const NvmeStatus& status) {
  static constexpr const char* kTypes[] = {"generic",       "command specific", "media error",
                                           "path related",  "type 4",           "type 5",
                                           "type 6",        "vendor specific"};
  char code[8];
  std::snprintf(code, sizeof code, "%02Xh", static_cast<unsigned>(status.code));
  std::string words = std::string(kTypes[status.type & 7]) + " " + code;
  const char* name = status.type == kNvmeTypeGeneric          ? GenericName(status.code)
                     : status.type == kNvmeTypeCommandSpecific ? CommandSpecificName(status.code)
                                                              : nullptr;
  if (name) words.append(" (").append(name).append(")");
  if (status.dnr) words.append(", do not retry");
  return words;
}

std::optional<std::string> NvmeResetNamed(const NvmeStatus& status) {
  if (status.type != kNvmeTypeCommandSpecific) return std::nullopt;
  switch (status.code) {
    case kNvmeNeedsConventionalReset:
      return "a conventional reset";
    case kNvmeNeedsSubsystemReset:
      return "an NVM subsystem reset";
    case kNvmeNeedsControllerReset:
      return "a controller reset";
    default:
      return std::nullopt;
  }
}

}  // namespace brisquel
