// The pure half of carrying the Windows pass-through request blocks out with
// Linux SG_IO: the ATA PASS-THROUGH(16) command block built from an
// ATA_PASS_THROUGH_EX block, and the returned ATA registers read back from the
// sense data in both the descriptor and the fixed format. No device needed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/SatProtocol.h"

namespace brisquel::linuxpt {

enum class SgDirection { none, fromDevice, toDevice };

// What the translation needs of an ATA_PASS_THROUGH_EX block.
struct AtaPassRequest {
  std::uint16_t ataFlags = 0;
  std::array<std::uint8_t, 8> previous{};  // PreviousTaskFile
  std::array<std::uint8_t, 8> current{};   // CurrentTaskFile
};

// The data direction the block's flags ask for; none when both are set
// (an invalid block).
std::optional<SgDirection> AtaDirection(std::uint16_t ataFlags);

using Cdb16 = std::array<std::uint8_t, 16>;
Cdb16 BuildAtaPassThrough16(const AtaPassRequest& request, SgDirection direction);

// The task files as the ATA pass-through request returns them after a request
// that reached the device: status in CurrentTaskFile byte 6, error in byte 0.
struct AtaTaskFiles {
  std::array<std::uint8_t, 8> previous{};
  std::array<std::uint8_t, 8> current{};
};
AtaTaskFiles CompleteAtaRequest(const AtaPassRequest& request, std::uint8_t scsiStatus,
                                std::span<const std::uint8_t> sense);

}  // namespace brisquel::linuxpt
