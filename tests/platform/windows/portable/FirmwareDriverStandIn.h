// A stand-in for DeviceIoControl as a storage driver answers the firmware
// IOCTLs, backed by a bench drive: the documented rules on record versions,
// sizes, slots, alignment, the largest piece and offsets (input too short 24,
// a bad field 87, GET_INFO unsupported 1, no upgrade 50, output too small
// 122), each DOWNLOAD as one DOWNLOAD MICROCODE 0Eh and ACTIVATE as 0Fh on the
// drive (an abort comes back as 1117). Beside it, the pass-through requests
// go to the bench as they are.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/windows/portable/FirmwareRecords.h"
#include "platform/windows/portable/StandInIo.h"
#include "transport/AtaCommands.h"
#include "transport/AtaProtocol.h"
#include "transport/DeviceIo.h"

namespace brisquel::winpt::test {

class FirmwareDriverStandIn : public IoControl {
 public:
  explicit FirmwareDriverStandIn(DeviceIo& bench) : bench_(bench) {}

  bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override {
    if (bytesReturned) *bytesReturned = 0;
    const std::span<const std::uint8_t> input(static_cast<const std::uint8_t*>(in), inSize);
    std::uint32_t error = win32::ERROR_INVALID_FUNCTION_;
    if (code == kIoctlFirmwareGetInfo) {
      error = GetInfo(input, std::span(static_cast<std::uint8_t*>(out), outSize), bytesReturned);
    } else if (code == kIoctlFirmwareDownload) {
      error = Download(handle, input);
    } else if (code == kIoctlFirmwareActivate) {
      error = Activate(handle, input);
    }
    error_ = error;
    return error == 0;
  }
  std::uint32_t GetLastError() override { return error_; }

  // What the driver says of the drive, and how it behaves.
  std::uint32_t getInfoError = 0;  // 1 or 50: GET_INFO refused
  FirmwareInterfaceInfo info = Supported();
  bool refusesFirstSegmentFlag = false;  // an older driver
  // Each call as "DOWNLOAD slot 1 offset 0 bytes 32768 flags 4 -> 0".
  std::vector<std::string> calls;

  static FirmwareInterfaceInfo Supported() {
    FirmwareInterfaceInfo i;
    i.supportUpgrade = true;
    i.activeSlot = 1;
    i.alignment = 512;
    i.maxPiece = 131072;
    i.firmwareSlots = {{1, false, "BF1.00"}};
    return i;
  }

 private:
  std::uint32_t GetInfo(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                        std::uint32_t* returned) {
    if (in.size() < sizeof(FirmwareInfoQuery)) return Said("GET_INFO", 24);
    FirmwareInfoQuery query;
    std::memcpy(&query, in.data(), sizeof query);
    if (query.version != sizeof query || query.size != sizeof query) return Said("GET_INFO", 87);
    if (getInfoError) return Said("GET_INFO", getInfoError);
    const std::vector<std::uint8_t> answer = InfoBytes();
    if (out.size() < answer.size()) return Said("GET_INFO", 122);
    std::memcpy(out.data(), answer.data(), answer.size());
    if (returned) *returned = static_cast<std::uint32_t>(answer.size());
    return Said("GET_INFO", 0);
  }

  std::uint32_t Download(OsHandle drive, std::span<const std::uint8_t> in) {
    const std::optional<DownloadRecord> record = ReadDownloadRecord(in);
    if (!record) return Said("DOWNLOAD", 24);
    const FirmwareDownloadHeader& h = record->header;
    const std::string& call = record->call;
    const std::uint32_t align = info.alignment ? info.alignment : 1;
    const bool bad = !record->sizesHold || !Writable(h.slot) ||
                     h.bufferSize % align != 0 || h.offset % align != 0 ||
                     h.bufferSize > info.maxPiece || h.offset != expectedOffset_ ||
                     (refusesFirstSegmentFlag && (h.flags & kFirmwareFlagFirstSegment));
    if (bad) return Said(call, 87);
    if (!info.supportUpgrade) return Said(call, 50);
    const auto blocks = static_cast<std::uint32_t>(h.bufferSize / 512);
    std::vector<std::uint8_t> piece(in.begin() + sizeof h, in.begin() + sizeof h + h.bufferSize);
    const AtaCommand c = DownloadMicrocodeCommand(kDlmcDeferred, blocks,
                                                  static_cast<std::uint32_t>(h.offset / 512), piece);
    const std::uint32_t error = Execute(drive, c, piece);
    if (error == 0) expectedOffset_ = (h.flags & kFirmwareFlagLastSegment) ? 0 : h.offset + h.bufferSize;
    return Said(call, error);
  }

  std::uint32_t Activate(OsHandle drive, std::span<const std::uint8_t> in) {
    if (in.size() < sizeof(FirmwareActivateRecord)) return Said("ACTIVATE", 24);
    FirmwareActivateRecord r;
    std::memcpy(&r, in.data(), sizeof r);
    const std::string call = "ACTIVATE slot " + std::to_string(r.slot);
    if (r.version != sizeof r || r.size != sizeof r || !Writable(r.slot)) return Said(call, 87);
    if (!info.supportUpgrade) return Said(call, 50);
    return Said(call, Execute(drive, ActivateMicrocodeCommand(), {}));
  }

  // One command on the bench drive; an abort is the driver's I/O device error.
  std::uint32_t Execute(OsHandle drive, const AtaCommand& c, std::span<std::uint8_t> data) {
    AtaRequest request;
    request.regs = c.regs;
    request.direction = data.empty() ? DataDirection::none : DataDirection::out;
    request.data = data;
    const AtaAnswer answer = bench_.AtaPassThrough(drive, request);
    if (!answer.delivered) return answer.systemError;
    return (answer.returned.command & kStatusErr) ? win32::ERROR_IO_DEVICE_ : 0;
  }

  bool Writable(std::uint8_t slot) const {
    for (const FirmwareSlotState& s : info.firmwareSlots) {
      if (s.number == slot) return !s.readOnly;
    }
    return false;
  }

  std::vector<std::uint8_t> InfoBytes() const {
    FirmwareInfoHeader header{};
    header.version = header.size = sizeof header;
    header.supportUpgrade = info.supportUpgrade ? 1 : 0;
    header.slotCount = static_cast<std::uint8_t>(info.firmwareSlots.size());
    header.activeSlot = info.activeSlot;
    header.pendingActivateSlot = info.pendingSlot;
    header.imagePayloadAlignment = info.alignment;
    header.imagePayloadMaxSize = info.maxPiece;
    std::vector<std::uint8_t> bytes(sizeof header + info.firmwareSlots.size() * sizeof(FirmwareSlotInfo));
    std::memcpy(bytes.data(), &header, sizeof header);
    for (std::size_t i = 0; i < info.firmwareSlots.size(); ++i) {
      FirmwareSlotInfo record{};
      record.version = record.size = sizeof record;
      record.slot.slotNumber = info.firmwareSlots[i].number;
      record.slot.readOnly = info.firmwareSlots[i].readOnly ? 1 : 0;
      std::memset(record.slot.revision, ' ', sizeof record.slot.revision);
      std::memcpy(record.slot.revision, info.firmwareSlots[i].revision.data(),
                  std::min(info.firmwareSlots[i].revision.size(), sizeof record.slot.revision));
      std::memcpy(bytes.data() + sizeof header + i * sizeof record, &record, sizeof record);
    }
    return bytes;
  }

  std::uint32_t Said(const std::string& call, std::uint32_t error) {
    calls.push_back(call + " -> " + std::to_string(error));
    return error;
  }

  DeviceIo& bench_;
  std::uint32_t error_ = 0;
  std::uint64_t expectedOffset_ = 0;
};

}  // namespace brisquel::winpt::test
