// Windows' two pass-through request blocks in their 64-bit layout, built from
// our requests and read back into answers, and the one call that carries them.
// No Windows header is needed here, so the bytes are tested on every build
// machine; a Windows-only file checks these offsets against the system's own
// declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "transport/Bytes.h"
#include "transport/PassThroughRequest.h"

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

// The trailing underscore keeps these clear of the Windows headers' macros.
inline constexpr std::uint16_t ATA_FLAGS_DRDY_REQUIRED_ = 0x01;
inline constexpr std::uint16_t ATA_FLAGS_DATA_IN_ = 0x02;
inline constexpr std::uint16_t ATA_FLAGS_DATA_OUT_ = 0x04;
inline constexpr std::uint16_t ATA_FLAGS_48BIT_COMMAND_ = 0x08;
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

inline constexpr std::uint8_t SCSI_IOCTL_DATA_OUT_ = 0;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_IN_ = 1;
inline constexpr std::uint8_t SCSI_IOCTL_DATA_UNSPECIFIED_ = 2;
}  // namespace brisquel::scsiptx

namespace brisquel::winpt {

inline constexpr std::uint32_t IOCTL_ATA_PASS_THROUGH_ = 0x4D02C;
inline constexpr std::uint32_t IOCTL_SCSI_PASS_THROUGH_ = 0x4D004;

inline constexpr std::uint8_t kSatTargetId = 1;

// DeviceIoControl as the blocks travel: the real call, or a stand-in in tests.
class IoControl {
 public:
  virtual ~IoControl() = default;
  // inBuffer and outBuffer may be the same block, as the pass-through requests
  // use them. False: refused, with the calling thread's last error set.
  virtual bool DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                               std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                               std::uint32_t* bytesReturned) = 0;
  virtual std::uint32_t GetLastError() = 0;
};

struct BlockSizes {
  std::uint32_t input = 0;
  std::uint32_t output = 0;
};

// The request block: ATA_PASS_THROUGH_EX in its 64-bit layout, directly
// followed by the request's data area; one block is input and output.
//
//   off size field                value
//    0   2   Length               48
//    2   2   AtaFlags             DRDY_REQUIRED | 48BIT_COMMAND | direction
//                                 (DATA_IN 0x02, DATA_OUT 0x04): 0x0B, 0x0D, 0x09
//    4   1   PathId               0
//    5   1   TargetId             0
//    6   1   Lun                  0
//    7   1   reserved             0
//    8   4   DataTransferLength   length
//   12   4   TimeOutValue         the request's time limit (seconds)
//   16   4   reserved             0
//   20   4   (alignment)          0
//   24   8   DataBufferOffset     48
//   32   8   PreviousTaskFile     featuresPrev countPrev lbaLowPrev lbaMidPrev
//                                 lbaHighPrev 0 0 0
//   40   8   CurrentTaskFile      features count lbaLow lbaMid lbaHigh device
//                                 command 0
//   48   n   data area            data-out: the request's data;
//                                 otherwise zero
//
// Every command goes with the 48-bit flag; a 28-bit command simply has zero
// previous bytes.
std::vector<std::uint8_t> BuildAtaPassThroughEx(const AtaRequest& request);
// Handed over as: data-in 48 / 48+length, data-out 48+length / 48, no data 48 / 48.
BlockSizes AtaPassThroughSizes(const AtaRequest& request);
// One request through IOCTL_ATA_PASS_THROUGH: data-in lands in request.data.
AtaAnswer SendAtaPassThroughEx(IoControl& io, OsHandle handle, const AtaRequest& request);

// The request block: SCSI_PASS_THROUGH in its 64-bit layout, the sense area,
// the data area; one block is input and output.
//
//   off size field               value
//    0   2   Length              56
//    2   1   ScsiStatus          0 (returned)
//    3   1   PathId              0
//    4   1   TargetId            1
//    5   1   Lun                 0
//    6   1   CdbLength           the bytes of the command block sent: 10, 12 or 16
//    7   1   SenseInfoLength     24
//    8   1   DataIn              0 out, 1 in, 2 no data
//    9   3   (alignment)         0
//   12   4   DataTransferLength  length
//   16   4   TimeOutValue        the request's time limit (seconds)
//   20   4   (alignment)         0
//   24   8   DataBufferOffset    80
//   32   4   SenseInfoOffset     56
//   36  16   Cdb                 the first CdbLength bytes of the command block
//   52   4   (alignment)         0
//   56  24   sense area          0 (returned)
//   80   n   data area           data-out: the request's data;
//                                otherwise zero
std::vector<std::uint8_t> BuildScsiPassThrough(const ScsiRequest& request);
// Handed over as: no data 56 / 80, data-in 80 / 80+length, data-out 80+length / 80.
BlockSizes ScsiPassThroughSizes(const ScsiRequest& request);
// One request through IOCTL_SCSI_PASS_THROUGH: data-in lands in request.data.
ScsiAnswer SendScsiPassThrough(IoControl& io, OsHandle handle, const ScsiRequest& request);

}  // namespace brisquel::winpt
