// The SCSI/ATA translation's names: the ATA PASS-THROUGH command blocks and
// their fields, and the SCSI status a bridge answers with. Shared by the SCSI
// pass-through transport, the Linux SG_IO path and the bench's bridges.
#pragma once

#include <cstdint>

namespace brisquel {

inline constexpr std::uint8_t kAtaPassThrough12 = 0xA1;
inline constexpr std::uint8_t kAtaPassThrough16 = 0x85;

// PROTOCOL, bits 4-1 of byte 1.
enum class SatProtocol : std::uint8_t { nonData = 3, pioIn = 4, pioOut = 5, dma = 6 };

// Byte 1 of the 16-byte form: the previous registers travel too.
inline constexpr std::uint8_t kSatExtend = 0x01;
// Byte 1: MULTIPLE_COUNT, bits 7-5.
inline constexpr std::uint8_t kSatMultipleCount = 0xE0;

// Byte 2: OFF_LINE 0, CK_COND, T_TYPE 0, T_DIR, BYT_BLOK, T_LENGTH.
inline constexpr std::uint8_t kSatCkCond = 0x20;
inline constexpr std::uint8_t kSatTDirFromDevice = 0x08;
inline constexpr std::uint8_t kSatBytBlok = 0x04;
inline constexpr std::uint8_t kSatTLengthMask = 0x03;
inline constexpr std::uint8_t kSatTLengthNone = 0;
inline constexpr std::uint8_t kSatTLengthFeatures = 1;
inline constexpr std::uint8_t kSatTLengthCount = 2;
// The length is the transfer's own (TPSIU).
inline constexpr std::uint8_t kSatTLengthTransfer = 3;
// The most blocks T_LENGTH 2 carries: the 8-bit count register of the 12-byte form.
inline constexpr std::uint32_t kSatCountMaxBlocks = 0xFF;

// SCSI status of a completed command.
inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;

}  // namespace brisquel
