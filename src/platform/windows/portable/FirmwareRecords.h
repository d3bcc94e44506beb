// The records of Windows' storage firmware interface (GET_INFO, DOWNLOAD,
// ACTIVATE) in the 64-bit layout, free of the system's headers: the SDK that
// cross-builds this declares the control codes but not the records. Every
// record's Version is its size. The byte builders and readers sit here so
// that both the backend and the tests' stand-ins for the driver use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/windows/portable/PassThroughBlocks.h"
#include "transport/DeviceIo.h"
#include "transport/FirmwareInterface.h"

namespace brisquel::winpt {

inline constexpr std::uint32_t kIoctlFirmwareGetInfo = 0x2D1C00;
inline constexpr std::uint32_t kIoctlFirmwareDownload = 0x2DDC04;
inline constexpr std::uint32_t kIoctlFirmwareActivate = 0x2DDC08;

inline constexpr std::uint32_t kFirmwareFlagController = 0x1;
inline constexpr std::uint32_t kFirmwareFlagLastSegment = 0x2;
inline constexpr std::uint32_t kFirmwareFlagFirstSegment = 0x4;
inline constexpr std::uint32_t kFirmwareFlagSwitchToExisting = 0x80000000u;
inline constexpr std::uint8_t kFirmwareInvalidSlot = 0xFF;

// GET_INFO's input.
struct FirmwareInfoQuery {
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t flags;
  std::uint32_t reserved;
};
static_assert(sizeof(FirmwareInfoQuery) == 16);

// One slot of GET_INFO's answer.
struct FirmwareSlotRecord {
  std::uint8_t slotNumber;
  std::uint8_t readOnly;  // bit 0
  std::uint8_t reserved[6];
  char revision[16];
};
// Version and Size lead each slot record.
struct FirmwareSlotInfo {
  std::uint32_t version;
  std::uint32_t size;
  FirmwareSlotRecord slot;
};
static_assert(sizeof(FirmwareSlotInfo) == 32);
static_assert(offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, slotNumber) == 8);
static_assert(offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, readOnly) == 9);
static_assert(offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, revision) == 16);

// GET_INFO's answer, before its slots.
struct FirmwareInfoHeader {
  std::uint32_t version;
  std::uint32_t size;
  std::uint8_t supportUpgrade;  // bit 0
  std::uint8_t slotCount;
  std::uint8_t activeSlot;
  std::uint8_t pendingActivateSlot;
  std::uint8_t firmwareShared;
  std::uint8_t reserved[3];
  std::uint32_t imagePayloadAlignment;
  std::uint32_t imagePayloadMaxSize;
};
static_assert(sizeof(FirmwareInfoHeader) == 24);
static_assert(offsetof(FirmwareInfoHeader, supportUpgrade) == 8);
static_assert(offsetof(FirmwareInfoHeader, slotCount) == 9);
static_assert(offsetof(FirmwareInfoHeader, activeSlot) == 10);
static_assert(offsetof(FirmwareInfoHeader, pendingActivateSlot) == 11);
static_assert(offsetof(FirmwareInfoHeader, firmwareShared) == 12);
static_assert(offsetof(FirmwareInfoHeader, imagePayloadAlignment) == 16);
static_assert(offsetof(FirmwareInfoHeader, imagePayloadMaxSize) == 20);

// DOWNLOAD's input: this header, the piece at 32; the record's size counts
// 40 bytes ahead of the piece, as its first image byte is declared in it.
struct FirmwareDownloadHeader {
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t flags;
  std::uint8_t slot;
  std::uint8_t reserved[3];
  std::uint64_t offset;
  std::uint64_t bufferSize;
};
inline constexpr std::uint32_t kFirmwareDownloadRecordSize = 40;
static_assert(sizeof(FirmwareDownloadHeader) == 32);
static_assert(offsetof(FirmwareDownloadHeader, flags) == 8);
static_assert(offsetof(FirmwareDownloadHeader, slot) == 12);
static_assert(offsetof(FirmwareDownloadHeader, offset) == 16);
static_assert(offsetof(FirmwareDownloadHeader, bufferSize) == 24);

// ACTIVATE's input.
struct FirmwareActivateRecord {
  std::uint32_t version;
  std::uint32_t size;
  std::uint32_t flags;
  std::uint8_t slot;
  std::uint8_t reserved[3];
};
static_assert(sizeof(FirmwareActivateRecord) == 16);
static_assert(offsetof(FirmwareActivateRecord, slot) == 12);

// The room GET_INFO is given: the header and this many slots, more than any
// drive has.
inline constexpr std::size_t kFirmwareMaxSlots = 8;
inline constexpr std::size_t kFirmwareInfoRoom =
    sizeof(FirmwareInfoHeader) + kFirmwareMaxSlots * sizeof(FirmwareSlotInfo);

std::vector<std::uint8_t> FirmwareInfoQueryBytes();
// None when the answer is shorter than its header or than the slots it counts.
std::optional<FirmwareInterfaceInfo> ReadFirmwareInfo(std::span<const std::uint8_t> answer);
std::vector<std::uint8_t> FirmwareDownloadBytes(const FirmwarePieceRequest& piece);
// `switchToExisting`: the slot's image as it is, nothing downloaded before.
std::vector<std::uint8_t> FirmwareActivateBytes(std::uint8_t slot, bool switchToExisting = false);

// A DOWNLOAD record as a driver reads it: its header, the call in words
// ("DOWNLOAD slot 1 offset 0 bytes 32768 flags 4"), and whether its version
// and sizes hold. None when it is shorter than the record.
struct DownloadRecord {
  FirmwareDownloadHeader header;
  std::string call;
  bool sizesHold = false;
};
std::optional<DownloadRecord> ReadDownloadRecord(std::span<const std::uint8_t> in);

// The three calls over DeviceIoControl, as the backend makes them and a test's
// stand-in answers them.
FirmwareInterfaceInfo GetFirmwareInfoIoctl(IoControl& io, OsHandle handle);
std::uint32_t DownloadFirmwareIoctl(IoControl& io, OsHandle handle, const FirmwarePieceRequest& piece);
std::uint32_t ActivateFirmwareIoctl(IoControl& io, OsHandle handle, std::uint8_t slot,
                                    bool switchToExisting);

}  // namespace brisquel::winpt
