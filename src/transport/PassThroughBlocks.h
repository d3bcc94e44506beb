// Byte layouts of the two pass-through request blocks, 64-bit form. The
// transports build them, the Linux adapter and the bench read them; all three
// use these offsets and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/Bytes.h"

namespace brisquel::ataptx {
// ATA_PASS_THROUGH_EX, 48 bytes, the data area directly behind it.
//   0  u16 Length              2  u16 AtaFlags
//   4  u8  PathId  5 TargetId  6 Lun  7 reserved
//   8  u32 DataTransferLength  12 u32 TimeOutValue  16 u32 reserved  20 pad
//  24  u64 DataBufferOffset
//  32  u8[8] PreviousTaskFile  40 u8[8] CurrentTaskFile
inline constexpr std::size_t kLength = 0;
inline constexpr std::size_t kAtaFlags = 2;
inline constexpr std::size_t kPathId = 4;
inline constexpr std::size_t kTargetId = 5;
inline constexpr std::size_t kLun = 6;
inline constexpr std::size_t kDataTransferLength = 8;
inline constexpr std::size_t kTimeOutValue = 12;
inline constexpr std::size_t kDataBufferOffset = 24;
inline constexpr std::size_t kPreviousTaskFile = 32;
inline constexpr std::size_t kCurrentTaskFile = 40;
inline constexpr std::size_t kHeaderSize = 48;

// Each field ends where the next begins, at its natural alignment, and the
// two task files close the header.
static_assert(kAtaFlags == kLength + 2 && kPathId == kAtaFlags + 2 && kLun + 2 == 8);
static_assert(kDataTransferLength == 8 && kTimeOutValue == kDataTransferLength + 4);
static_assert(kDataBufferOffset % 8 == 0 && kDataBufferOffset >= kTimeOutValue + 4 + 4);
static_assert(kPreviousTaskFile == kDataBufferOffset + 8);
static_assert(kCurrentTaskFile == kPreviousTaskFile + 8 && kCurrentTaskFile + 8 == kHeaderSize);

inline constexpr std::uint16_t ATA_FLAGS_DRDY_REQUIRED = 0x01;
inline constexpr std::uint16_t ATA_FLAGS_DATA_IN = 0x02;
inline constexpr std::uint16_t ATA_FLAGS_DATA_OUT = 0x04;
inline constexpr std::uint16_t ATA_FLAGS_48BIT_COMMAND = 0x08;
}  // namespace brisquel::ataptx

namespace brisquel::scsiptx {
// SCSI_PASS_THROUGH, 56 bytes, then the 24-byte sense area, then the data area.
//   0  u16 Length   2 u8 ScsiStatus  3 PathId  4 TargetId  5 Lun
//   6  u8 CdbLength  7 u8 SenseInfoLength  8 u8 DataIn  9..11 pad
//  12  u32 DataTransferLength  16 u32 TimeOutValue  20 pad
//  24  u64 DataBufferOffset  32 u32 SenseInfoOffset  36 u8[16] Cdb  52 pad
//  56  sense area (24)   80  data area
inline constexpr std::size_t kLength = 0;
inline constexpr std::size_t kScsiStatus = 2;
inline constexpr std::size_t kPathId = 3;
inline constexpr std::size_t kTargetId = 4;
inline constexpr std::size_t kLun = 5;
inline constexpr std::size_t kCdbLength = 6;
inline constexpr std::size_t kSenseInfoLength = 7;
inline constexpr std::size_t kDataIn = 8;
inline constexpr std::size_t kDataTransferLength = 12;
inline constexpr std::size_t kTimeOutValue = 16;
inline constexpr std::size_t kDataBufferOffset = 24;
inline constexpr std::size_t kSenseInfoOffset = 32;
inline constexpr std::size_t kCdb = 36;
inline constexpr std::size_t kHeaderSize = 56;
inline constexpr std::size_t kSenseOffset = 56;
inline constexpr std::size_t kSenseSize = 24;
inline constexpr std::size_t kDataOffset = 80;

static_assert(kScsiStatus == kLength + 2 && kDataIn == kSenseInfoLength + 1);
static_assert(kDataTransferLength % 4 == 0 && kDataTransferLength >= kDataIn + 1);
static_assert(kTimeOutValue == kDataTransferLength + 4 && kDataBufferOffset % 8 == 0);
static_assert(kSenseInfoOffset == kDataBufferOffset + 8 && kCdb == kSenseInfoOffset + 4);
static_assert(kCdb + 16 <= kHeaderSize && kHeaderSize % 8 == 0);
static_assert(kSenseOffset == kHeaderSize && kSenseOffset + kSenseSize == kDataOffset);

inline constexpr std::uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_IN = 1;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;
}  // namespace brisquel::scsiptx
