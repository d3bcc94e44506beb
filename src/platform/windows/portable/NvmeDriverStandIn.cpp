#include "platform/windows/portable/NvmeDriverStandIn.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "transport/NvmeCommands.h"
#include "transport/NvmeProtocol.h"

namespace brisquel::winpt {
namespace {
constexpr std::uint32_t kErrorBadLength = 24;
}  // namespace

std::uint32_t AnswerNvmeQuery(DeviceIo& controller, OsHandle handle, std::span<const std::uint8_t> in,
                              std::span<std::uint8_t> out, std::uint32_t* returned, std::string* call) {
  if (returned) *returned = 0;
  if (call) *call = "QUERY";
  if (in.size() < sizeof(ProtocolPropertyQuery)) return kErrorBadLength;
  ProtocolPropertyQuery q;
  std::memcpy(&q, in.data(), sizeof q);
  const ProtocolSpecificData p = q.protocol;
  const bool identify = p.dataType == kNvmeDataTypeIdentify;
  if (call) {
    *call = std::string("QUERY ") + (identify ? "identify " : "log ") + std::to_string(p.requestValue) +
            " nsid " + std::to_string(p.requestSubValue) + " bytes " + std::to_string(p.dataLength);
  }
  const std::uint64_t end = std::uint64_t{offsetof(ProtocolDataDescriptor, protocol)} + p.dataOffset +
                            p.dataLength;
  const std::uint32_t property = identify && p.requestValue == kNvmeCnsController
                                     ? kAdapterProtocolSpecificProperty
                                     : kDeviceProtocolSpecificProperty;
  if (q.queryType != kPropertyStandardQuery || p.protocolType != kProtocolTypeNvme ||
      (!identify && p.dataType != kNvmeDataTypeLogPage) || q.propertyId != property ||
      p.dataOffset < sizeof(ProtocolSpecificData) || p.dataLength == 0 || p.dataLength % 4 != 0 ||
      end > in.size()) {
    return win32::ERROR_INVALID_PARAMETER_;
  }
  if (end > out.size()) return win32::ERROR_INSUFFICIENT_BUFFER_;
  std::vector<std::uint8_t> data(p.dataLength);
  NvmeAdminRequest request;
  request.direction = DataDirection::in;
  request.data = data;
  if (identify) {
    request.opcode = kNvmeIdentify;
    request.cdw[0] = p.requestValue;
    request.nsid = p.requestSubValue;
  } else {
    request.opcode = kNvmeGetLogPage;
    request.nsid = 0xFFFFFFFFu;
    const std::uint32_t numd = p.dataLength / 4 - 1;
    request.cdw[0] = (p.requestValue & 0xFF) | (p.requestSubValue4 & 1) << 15 |
                     (p.requestSubValue4 >> 1 & 0xF) << 8 | numd << 16;
    request.cdw[1] = numd >> 16 | p.requestSubValue3 << 16;
    request.cdw[2] = p.requestSubValue;
    request.cdw[3] = p.requestSubValue2;
  }
  const NvmeAdminAnswer answer = controller.NvmeAdmin(handle, request);
  if (!answer.delivered) return answer.systemError;
  // The query reports no NVMe status: an error is the driver's own.
  if (!answer.status.ok()) return win32::ERROR_IO_DEVICE_;
  ProtocolDataDescriptor d{};
  d.version = d.size = sizeof d;
  d.protocol = p;
  d.protocol.fixedReturnData = answer.result;
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  std::memcpy(out.data(), &d, sizeof d);
  std::copy(data.begin(), data.end(),
            out.begin() + static_cast<std::ptrdiff_t>(end - p.dataLength));
  if (returned) *returned = static_cast<std::uint32_t>(end);
  return 0;
}

bool NvmeDriverStandIn::DeviceIoControl(OsHandle handle, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize,
                                        std::uint32_t* returned) {
  if (returned) *returned = 0;
  // The input is read whole before the output is written: they may be one block.
  const std::vector<std::uint8_t> input(static_cast<const std::uint8_t*>(in),
                                        static_cast<const std::uint8_t*>(in) + inSize);
  const std::span<std::uint8_t> output(static_cast<std::uint8_t*>(out), outSize);
  call_ = "IOCTL " + std::to_string(code);
  if (code == kIoctlStorageQueryProperty) {
    error_ = AnswerNvmeQuery(controller_, handle, input, output, returned, &call_);
  } else if (code == kIoctlFirmwareGetInfo || code == kIoctlFirmwareDownload ||
             code == kIoctlFirmwareActivate) {
    call_ = code == kIoctlFirmwareGetInfo    ? "GET_INFO"
            : code == kIoctlFirmwareDownload ? "DOWNLOAD"
                                             : "ACTIVATE";
    error_ = disk_ && !disk_(handle).served ? win32::ERROR_INVALID_FUNCTION_
             : code == kIoctlFirmwareGetInfo  ? GetInfo(handle, output, returned)
             : code == kIoctlFirmwareDownload ? Download(handle, input)
                                              : Activate(handle, input);
  } else {
    error_ = win32::ERROR_INVALID_FUNCTION_;
  }
  return error_ == 0;
}

std::uint32_t NvmeDriverStandIn::Download(OsHandle drive, std::span<const std::uint8_t> in) {
  const std::optional<DownloadRecord> record = ReadDownloadRecord(in);
  if (!record) return kErrorBadLength;
  const FirmwareDownloadHeader& h = record->header;
  call_ = record->call;
  const Limits l = LimitsOf(drive);
  if (!record->sizesHold || h.bufferSize % l.alignment != 0 || h.offset % l.alignment != 0 ||
      h.bufferSize > l.maxPiece || h.offset > 0xFFFFFFFFu || h.slot == 0 || h.slot > l.slots ||
      (h.slot == 1 && l.slot1ReadOnly)) {
    return win32::ERROR_INVALID_PARAMETER_;
  }
  std::vector<std::uint8_t> piece(in.begin() + sizeof h, in.begin() + sizeof h + h.bufferSize);
  return Admin(drive, FirmwareImageDownloadRequest(piece, static_cast<std::uint32_t>(h.offset)));
}

std::uint32_t NvmeDriverStandIn::Activate(OsHandle drive, std::span<const std::uint8_t> in) {
  if (in.size() < sizeof(FirmwareActivateRecord)) return kErrorBadLength;
  FirmwareActivateRecord r;
  std::memcpy(&r, in.data(), sizeof r);
  const bool existing = (r.flags & kFirmwareFlagSwitchToExisting) != 0;
  call_ = "ACTIVATE slot " + std::to_string(r.slot) + (existing ? " existing" : "");
  const Limits l = LimitsOf(drive);
  if (r.version != sizeof r || r.size != sizeof r || r.slot == 0 || r.slot > l.slots ||
      (!existing && r.slot == 1 && l.slot1ReadOnly)) {
    return win32::ERROR_INVALID_PARAMETER_;
  }
  const std::uint8_t action = l.activateWithoutReset ? kNvmeCommitActivateNow
                              : existing             ? kNvmeCommitActivateAtReset
                                                     : kNvmeCommitStoreAtReset;
  return Admin(drive, FirmwareCommitRequest(r.slot, action));
}

std::uint32_t NvmeDriverStandIn::Admin(OsHandle drive, const NvmeAdminRequest& request) {
  const NvmeAdminAnswer a = controller_.NvmeAdmin(drive, request);
  if (!a.delivered) return a.systemError;
  // A reset the controller waits for is done; any other error status is the
  // driver's I/O device error.
  if (a.status.ok() || NvmeResetNamed(a.status)) return 0;
  return win32::ERROR_IO_DEVICE_;
}

NvmeDriverStandIn::Limits NvmeDriverStandIn::LimitsOf(OsHandle drive) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  if (!controller_.NvmeAdmin(drive, IdentifyControllerRequest(id)).status.ok()) return {};
  return LimitsFrom(drive, id);
}

NvmeDriverStandIn::Limits NvmeDriverStandIn::LimitsFrom(
    OsHandle drive, std::span<const std::uint8_t, kNvmeIdentifyBytes> id) const {
  Limits l;
  const std::uint8_t fwug = id[kNvmeIdFwug], mdts = id[kNvmeIdMdts], frmw = id[kNvmeIdFrmw];
  if (fwug != 0 && fwug != kNvmeFwugAny) l.alignment = 4096u * fwug;
  if (mdts != 0 && mdts <= 8) l.maxPiece = 4096u << mdts;
  l.slots = frmw >> 1 & 7;
  l.slot1ReadOnly = (frmw & kNvmeFrmwSlot1ReadOnly) != 0;
  l.activateWithoutReset = (frmw & kNvmeFrmwActivateWithoutReset) != 0;
  if (disk_) {
    const std::uint32_t adapter = disk_(drive).largestTransfer;
    if (adapter != 0) l.maxPiece = std::min(l.maxPiece, adapter);
  }
  return l;
}

std::uint32_t NvmeDriverStandIn::GetInfo(OsHandle drive, std::span<std::uint8_t> out,
                                         std::uint32_t* returned) {
  std::array<std::uint8_t, kNvmeIdentifyBytes> id{};
  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
  const NvmeAdminAnswer a = controller_.NvmeAdmin(drive, IdentifyControllerRequest(id));
  const NvmeAdminAnswer b = controller_.NvmeAdmin(drive, FirmwareSlotLogRequest(log));
  if (!a.delivered || !b.delivered || !a.status.ok() || !b.status.ok()) {
    return win32::ERROR_IO_DEVICE_;
  }
  const Limits l = LimitsFrom(drive, id);
  FirmwareInfoHeader h{};
  h.version = h.size = sizeof h;
  h.supportUpgrade = (id[kNvmeIdOacs] & kNvmeOacsFirmware) ? 1 : 0;
  h.slotCount = static_cast<std::uint8_t>(l.slots);
  h.activeSlot = log[0] & 7;
  h.pendingActivateSlot = (log[0] >> 4 & 7) ? log[0] >> 4 & 7 : kFirmwareInvalidSlot;
  h.imagePayloadAlignment = l.alignment;
  h.imagePayloadMaxSize = l.maxPiece;
  const std::size_t size = sizeof h + static_cast<std::size_t>(l.slots) * sizeof(FirmwareSlotInfo);
  if (out.size() < size) return win32::ERROR_INSUFFICIENT_BUFFER_;
  std::memcpy(out.data(), &h, sizeof h);
  for (int i = 0; i < l.slots; ++i) {
    FirmwareSlotInfo s{};
    s.version = s.size = sizeof s;
    s.slot.slotNumber = static_cast<std::uint8_t>(i + 1);
    s.slot.readOnly = i == 0 && l.slot1ReadOnly ? 1 : 0;
    std::memcpy(s.slot.revision, &log[kNvmeSlotLogFirstRevision + 8 * i], 8);
    std::memcpy(out.data() + sizeof h + static_cast<std::size_t>(i) * sizeof s, &s, sizeof s);
  }
  if (returned) *returned = static_cast<std::uint32_t>(size);
  return 0;
}

}  // namespace brisquel::winpt
