// Windows' storage firmware interface as typed calls: what the disk's driver
// says of it (GET_INFO), one piece of an image (DOWNLOAD) and the switch to it
// (ACTIVATE). The driver turns them into DOWNLOAD MICROCODE 0Eh pieces and
// 0Fh, and, unlike a pass-through, the storage stack learns that the drive's
// firmware changed. Systems without it answer that they have none.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brisquel {

struct FirmwareSlotState {
  std::uint8_t number = 0;
  bool readOnly = false;
  std::string revision;
};

struct FirmwareInterfaceInfo {
  // False: this system has no such interface (Linux, the bench); nothing else holds.
  bool onThisSystem = false;
  // Nonzero: GET_INFO was refused with this error; nothing below holds.
  std::uint32_t systemError = 0;
  bool supportUpgrade = false;
  std::uint8_t activeSlot = 0xFF;
  std::uint8_t pendingSlot = 0xFF;
  std::uint32_t alignment = 0;  // bytes each piece is a multiple of
  std::uint32_t maxPiece = 0;   // the largest piece, in bytes
  std::vector<FirmwareSlotState> firmwareSlots;

  // The first slot that takes firmware; none when every one is read-only.
  std::optional<std::uint8_t> WritableSlot() const {
    for (const FirmwareSlotState& slot : firmwareSlots) {
      if (!slot.readOnly) return slot.number;
    }
    return std::nullopt;
  }
};

struct FirmwarePieceRequest {
  std::uint8_t slot = 0;
  std::uint64_t offset = 0;  // the piece's place in the image, in bytes
  std::span<const std::uint8_t> bytes;
  bool first = false;  // said to the driver as FIRST_SEGMENT
  bool last = false;   // LAST_SEGMENT
};

// One firmware call, as the command observer sees it.
struct FirmwareCall {
  enum class Kind { getInfo, download, activate };
  Kind kind = Kind::getInfo;
  std::uint8_t slot = 0;
  std::uint64_t offset = 0;
  std::uint32_t bytes = 0;
  bool first = false;
  bool last = false;
};

struct FirmwareCallReturn {
  std::uint32_t systemError = 0;  // 0: done
  std::chrono::nanoseconds elapsed{};
};

}  // namespace brisquel
