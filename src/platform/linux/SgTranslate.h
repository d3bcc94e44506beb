// The pure half of carrying the Windows pass-through request blocks out with
// Linux SG_IO: the ATA PASS-THROUGH(16) command block built from an
// ATA_PASS_THROUGH_EX block, and the returned ATA registers read back from the
// sense data in both the descriptor and the fixed format. No device needed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

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

// The registers an ATA device returned, as a SAT layer reports them.
struct AtaReturnedRegisters {
  bool extend = false;
  std::uint8_t error = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
  std::uint8_t device = 0, status = 0;
  std::uint8_t countPrev = 0, lbaLowPrev = 0, lbaMidPrev = 0, lbaHighPrev = 0;
};

// Reads the ATA Status Return descriptor (0x09) of descriptor-format sense,
// or the registers of fixed-format sense: at bytes 3-6 as SAT places them, or
// at bytes 8-11 where kernels up to 6.1 put them. Nothing when the sense
// carries no registers. Never reads past the span.
std::optional<AtaReturnedRegisters> DecodeAtaStatusReturn(std::span<const std::uint8_t> sense);

struct SenseKey {
  std::uint8_t key = 0, asc = 0, ascq = 0;
};
// The sense key and additional sense code of fixed or descriptor sense.
std::optional<SenseKey> DecodeSenseKey(std::span<const std::uint8_t> sense);

inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;

// The task files as the ATA pass-through request returns them after a request
// that reached the device: status in CurrentTaskFile byte 6, error in byte 0.
struct AtaTaskFiles {
  std::array<std::uint8_t, 8> previous{};
  std::array<std::uint8_t, 8> current{};
};
AtaTaskFiles CompleteAtaRequest(const AtaPassRequest& request, std::uint8_t scsiStatus,
                                std::span<const std::uint8_t> sense);

}  // namespace brisquel::linuxpt
