// Sense data as drives, USB bridges and SAT layers return it, in fixed (70h,
// 71h) and descriptor (72h, 73h) format: read into one record, and written
// from it. The SCSI result codes, the Linux adapter's returned registers and
// the bench's bridge all go through here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace brisquel {

// The ATA registers a SAT layer hands back: the ATA Status Return descriptor
// (09h) of descriptor sense, or the INFORMATION and COMMAND-SPECIFIC
// INFORMATION fields of fixed sense.
struct AtaStatusReturn {
  bool extend = false;
  std::uint8_t error = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
  std::uint8_t device = 0, status = 0;
  std::uint8_t countPrev = 0, lbaLowPrev = 0, lbaMidPrev = 0, lbaHighPrev = 0;
};

struct SenseData {
  enum class Format { none, fixed, descriptor, other };
  Format format = Format::none;  // none: empty, or a zero response code
  std::uint8_t key = 0, asc = 0, ascq = 0;
  // Fixed format only: byte 2's FILEMARK, EOM and ILI bits (7-5), and the
  // INFORMATION field (bytes 3-6).
  std::uint8_t flags = 0;
  std::array<std::uint8_t, 4> information{};
  // A field of the command block that the target found wrong (sense-key
  // specific, SKSV set, C/D set).
  std::optional<std::uint8_t> fieldPointer{};
  std::optional<AtaStatusReturn> ata{};
};

inline constexpr std::uint8_t kSenseFilemark = 0x80;
inline constexpr std::uint8_t kSenseEom = 0x40;
inline constexpr std::uint8_t kSenseIli = 0x20;

// Reads any bytes, of any length, never past the span. Fixed sense carries
// the registers in INFORMATION (error, status, device, count) and the LBA in
// bytes 9-11 as SAT places them; kernels up to 6.1 wrote the four registers
// at 8-11 instead, which is read too. A real status is never zero, so fixed
// sense with no status in either place carries no registers.
SenseData ReadSenseData(std::span<const std::uint8_t> sense);

// Fixed format: 18 bytes, the registers (when `ata` is set) where SAT places
// them. Descriptor format: 8 bytes, and the ATA Status Return descriptor when
// `ata` is set.
std::vector<std::uint8_t> WriteSenseData(const SenseData& sense);

}  // namespace brisquel
