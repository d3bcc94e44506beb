#include "platform/windows/portable/FirmwareRecords.h"

#include <algorithm>
#include <cstring>

namespace brisquel::winpt {
namespace {

// Windows runs little-endian, as every machine that builds this does, so the
// records go out as they lie in memory.
// A record as bytes, with room for what follows it.
template <typename Record>
std::vector<std::uint8_t> Bytes(const Record& record, std::size_t size = sizeof(Record)) {
  std::vector<std::uint8_t> bytes(size);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

template <typename Record>
Record Read(std::span<const std::uint8_t> bytes) {
  Record record{};
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

}  // namespace

std::vector<std::uint8_t> FirmwareInfoQueryBytes() {
  return Bytes(FirmwareInfoQuery{sizeof(FirmwareInfoQuery), sizeof(FirmwareInfoQuery), 0, 0});
}

std::optional<FirmwareInterfaceInfo> ReadFirmwareInfo(std::span<const std::uint8_t> answer) {
  if (answer.size() < sizeof(FirmwareInfoHeader)) return std::nullopt;
  const auto header = Read<FirmwareInfoHeader>(answer);
  if (answer.size() < sizeof header + header.slotCount * sizeof(FirmwareSlotInfo)) {
    return std::nullopt;
  }
  FirmwareInterfaceInfo info;
  info.onThisSystem = true;
  info.supportUpgrade = (header.supportUpgrade & 1) != 0;
  info.activeSlot = header.activeSlot;
  info.pendingSlot = header.pendingActivateSlot;
  info.alignment = header.imagePayloadAlignment;
  info.maxPiece = header.imagePayloadMaxSize;
  for (std::size_t i = 0; i < header.slotCount; ++i) {
    const auto record =
        Read<FirmwareSlotInfo>(answer.subspan(sizeof header + i * sizeof(FirmwareSlotInfo)));
    std::string revision(record.slot.revision, sizeof record.slot.revision);
    revision.erase(revision.find_last_not_of(std::string(" \0", 2)) + 1);
    info.firmwareSlots.push_back({record.slot.slotNumber, (record.slot.readOnly & 1) != 0, revision});
  }
  return info;
}

std::vector<std::uint8_t> FirmwareDownloadBytes(const FirmwarePieceRequest& piece) {
  FirmwareDownloadHeader header{};
  header.version = kFirmwareDownloadRecordSize;
  header.size = static_cast<std::uint32_t>(kFirmwareDownloadRecordSize + piece.bytes.size());
  header.flags = (piece.first ? kFirmwareFlagFirstSegment : 0) |
                 (piece.last ? kFirmwareFlagLastSegment : 0);
  header.slot = piece.slot;
  header.offset = piece.offset;
  header.bufferSize = piece.bytes.size();
  // The declared record is 8 bytes longer than its header: the piece starts inside it.
  std::vector<std::uint8_t> bytes = Bytes(header, header.size);
  if (!piece.bytes.empty()) {
    std::memcpy(bytes.data() + sizeof header, piece.bytes.data(), piece.bytes.size());
  }
  return bytes;
}

std::vector<std::uint8_t> FirmwareActivateBytes(std::uint8_t slot, bool switchToExisting) {
  FirmwareActivateRecord record{};
  record.version = record.size = sizeof record;
  if (switchToExisting) record.flags = kFirmwareFlagSwitchToExisting;
  record.slot = slot;
  return Bytes(record);
}

FirmwareInterfaceInfo GetFirmwareInfoIoctl(IoControl& io, OsHandle handle) {
  std::vector<std::uint8_t> query = FirmwareInfoQueryBytes();
  std::vector<std::uint8_t> answer(kFirmwareInfoRoom);
  std::uint32_t returned = 0;
  FirmwareInterfaceInfo info;
  info.onThisSystem = true;
  if (!io.DeviceIoControl(handle, kIoctlFirmwareGetInfo, query.data(),
                          static_cast<std::uint32_t>(query.size()), answer.data(),
                          static_cast<std::uint32_t>(answer.size()), &returned)) {
    info.systemError = io.GetLastError();
    return info;
  }
  auto read = ReadFirmwareInfo(std::span(answer).first(std::min<std::size_t>(returned, answer.size())));
  if (!read) info.systemError = win32::ERROR_GEN_FAILURE_;  // an answer that makes no sense
  return read.value_or(info);
}

std::uint32_t DownloadFirmwareIoctl(IoControl& io, OsHandle handle, const FirmwarePieceRequest& piece) {
  std::vector<std::uint8_t> record = FirmwareDownloadBytes(piece);
  std::uint32_t returned = 0;
  return io.DeviceIoControl(handle, kIoctlFirmwareDownload, record.data(),
                            static_cast<std::uint32_t>(record.size()), nullptr, 0, &returned)
             ? 0
             : io.GetLastError();
}

std::uint32_t ActivateFirmwareIoctl(IoControl& io, OsHandle handle, std::uint8_t slot,
                                    bool switchToExisting) {
  std::vector<std::uint8_t> record = FirmwareActivateBytes(slot, switchToExisting);
  std::uint32_t returned = 0;
  return io.DeviceIoControl(handle, kIoctlFirmwareActivate, record.data(),
                            static_cast<std::uint32_t>(record.size()), nullptr, 0, &returned)
             ? 0
             : io.GetLastError();
}

std::optional<DownloadRecord> ReadDownloadRecord(std::span<const std::uint8_t> in) {
  if (in.size() < kFirmwareDownloadRecordSize) return std::nullopt;
  DownloadRecord r;
  FirmwareDownloadHeader& h = r.header;
  std::memcpy(&h, in.data(), sizeof h);
  r.call = "DOWNLOAD slot " + std::to_string(h.slot) + " offset " + std::to_string(h.offset) +
           " bytes " + std::to_string(h.bufferSize) + " flags " + std::to_string(h.flags);
  r.sizesHold = h.version == kFirmwareDownloadRecordSize && h.size == in.size() &&
                h.size == kFirmwareDownloadRecordSize + h.bufferSize && h.bufferSize != 0;
  return r;
}

}  // namespace brisquel::winpt
