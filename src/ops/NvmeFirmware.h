// NVMe's Firmware Image Download and Firmware Commit behind the update
// procedure's protocol seam. The DOWNLOAD MICROCODE modes keep their meaning
// as far as NVMe has one: 03 and 07 store the image and activate it at the
// next reset (or now, where asked and the controller can), 0E stores it in a
// slot without activating it, 0F activates a slot's image; 01 has no
// counterpart.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ops/FirmwareProtocol.h"
#include "ops/NvmeIdentity.h"

namespace brisquel {

std::unique_ptr<FirmwareProtocol> MakeNvmeFirmware(OperationContext& ops,
                                                   const UpdateRequest& request,
                                                   UpdateReport& report);

// The time a piece of the image may take, and the least a commit may take:
// the controller's own maximum activation time (MTFA) where it is longer.
inline constexpr std::uint32_t kNvmePieceTimeLimit = 120;  // seconds
std::uint32_t NvmeCommitTimeLimit(std::uint16_t mtfa);

// Where nothing states a largest transfer, pieces of this many bytes.
inline constexpr std::uint32_t kNvmeDefaultPieceBytes = 128 * 1024;

// The bytes of each piece of the image: at most the controller's largest
// transfer (MDTS, with 4 KiB pages) and the queue's (0: not known), a
// multiple of the update granularity (FWUG; whole dwords where it says
// nothing). None when the granularity is larger than the transfer allows.
struct NvmePiecePlan {
  std::optional<std::uint32_t> bytes;
  std::uint32_t granularity = 4;
  std::uint32_t largestTransfer = 0;
  std::string why;  // what set the size, in words
};
NvmePiecePlan PlanNvmePieces(const NvmeControllerFacts& controller, std::uint32_t queueBytes);

// The slot an update writes or activates: the one asked for, else the lowest
// writable slot that is not the active one, else the only writable one (the
// active slot of a one-slot controller). None when no slot can be told.
std::optional<int> ChooseNvmeSlot(const NvmeControllerFacts& controller,
                                  const std::optional<NvmeSlotLog>& log,
                                  std::optional<int> asked);

}  // namespace brisquel
