// The one builder of ATA PASS-THROUGH command blocks, in the three forms
// bridges take.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "transport/AtaTypes.h"
#include "transport/SatProtocol.h"

namespace brisquel {

enum class SatForm {
  a1Ten,     // A1h, its first ten bytes sent: reserved and control left off
  a1Twelve,  // A1h, all twelve bytes
  x85,       // 85h, sixteen bytes
};

struct SatFields {
  SatProtocol protocol = SatProtocol::nonData;
  std::uint8_t transfer = 0;  // byte 2
  bool extend = false;        // 85h only: EXTEND set and the previous registers carried
};

struct SatCdb {
  std::array<std::uint8_t, 16> bytes{};
  std::uint8_t length = 0;  // the bytes sent

  std::span<const std::uint8_t> Sent() const { return std::span(bytes).first(length); }
};

// A1h: 0 A1h | 1 PROTOCOL << 1 | 2 transfer | 3 features | 4 count | 5 LBA low
//      | 6 LBA mid | 7 LBA high | 8 device | 9 command | 10 reserved 0 | 11 control 0
// 85h: 0 85h | 1 PROTOCOL << 1 | EXTEND | 2 transfer
//      | 3, 5, 7, 9, 11 the previous features, count, LBA low, mid, high (0 without EXTEND)
//      | 4, 6, 8, 10, 12 the current ones | 13 device | 14 command | 15 control 0
SatCdb BuildSatCdb(SatForm form, const AtaTaskFile& regs, const SatFields& fields);

}  // namespace brisquel
