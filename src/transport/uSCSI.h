// SCSI pass-through transport: one ATA command wrapped in a SAT ATA
// PASS-THROUGH command block and handed to the operating system's SCSI
// pass-through request on DriveTarget.scsiHandle (drives behind USB bridges).
// Only the seven current registers travel; nothing is decoded from the drive.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "transport/AtaTypes.h"
#include "transport/SatCdb.h"
#include "transport/TransportState.h"

namespace brisquel {

// Transport result codes: 0 is success, anything else failure.
inline constexpr std::uint8_t kResultOk = 0;
inline constexpr std::uint8_t kResultInvalidHandle = 5;
inline constexpr std::uint8_t kResultOtherError = 10;

// ATA PASS-THROUGH(12), opcode 0xA1. Only the first ten bytes are sent
// (CdbLength 10): bytes 10 (reserved) and 11 (control) stay zero.
//
//   byte  content
//    0    0xA1
//    1    protocol: PROTOCOL in bits 4-1 (3 non-data, 4 PIO in, 5 PIO out),
//         MULTIPLE_COUNT 0: 0x06 / 0x08 / 0x0A
//    2    transfer: OFF_LINE 0, CK_COND 0, T_DIR bit 3 (1 = from device),
//         BYT_BLOK bit 2 (1 = 512-byte blocks), T_LENGTH bits 1-0 (2 = in the
//         sector count field, 0 = no data): 0x00 / 0x0E / 0x06
//    3    features
//    4    count
//    5    lbaLow
//    6    lbaMid
//    7    lbaHigh
//    8    device
//    9    command
//   10    reserved (0)
//   11    control (0)
std::array<std::uint8_t, 12> SatCdb12(const AtaTaskFile& regs, DataDirection direction);
inline constexpr std::uint8_t kSatCdb12SentLength = 10;

// ATA PASS-THROUGH(16), opcode 0x85; CdbLength 16. EXTEND (bit 0 of byte 1)
// is set but the high-order bytes are zero: the previous registers never
// travel over SCSI.
//
//   byte  content
//    0    0x85
//    1    protocol | EXTEND: 0x07 / 0x09 / 0x0B (non-data / PIO in / PIO out)
//    2    transfer: 0x0C / 0x0E / 0x06
//    3    0 (features 15:8)    4  features
//    5    0 (count 15:8)       6  count
//    7    0 (LBA 31:24)        8  lbaLow
//    9    0 (LBA 39:32)       10  lbaMid
//   11    0 (LBA 47:40)       12  lbaHigh
//   13    device              14  command
//   15    control (0)
std::array<std::uint8_t, 16> SatCdb16(const AtaTaskFile& regs, DataDirection direction);

// Result code of fixed-format sense data (24 bytes). An empty area (byte 0
// zero) gives 0.
std::uint8_t SenseToResult(std::span<const std::uint8_t> sense);
// Result code of a Win32 error. 0 and 1 give 0.
std::uint8_t Win32ErrorToResult(std::uint32_t error);

// The core request. Returns a result code; 5 at once (no request, no pump)
// for an invalid handle. Pumps the message queue once after every request.
// A refused request or a nonzero ScsiStatus is never a success, whatever the
// two tables above say for it. With `ended`, also says how the command ended
// (the system's refusal kept apart from the drive's or bridge's answer, and a
// time limit that expired apart from both). `timeLimit` is in seconds.
std::uint8_t ScsiPassThrough(TransportContext& t, OsHandle handle,
                             std::span<const std::uint8_t> cdb, std::uint8_t cdbLength,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, CommandResult* ended = nullptr,
                             std::uint32_t timeLimit = kCommandTimeLimit);

// The two command block sizes, each handed to ScsiPassThrough as built: A1h
// goes in 10 or 12 bytes (the form the bridge takes), 85h in 16.
std::uint8_t SendCdb12(TransportContext& t, OsHandle handle, const SatCdb& cdb,
                       std::span<std::uint8_t> buffer, std::uint32_t length,
                       DataDirection direction, CommandResult* ended, std::uint32_t timeLimit);
std::uint8_t SendCdb16(TransportContext& t, OsHandle handle, const SatCdb& cdb,
                       std::span<std::uint8_t> buffer, std::uint32_t length,
                       DataDirection direction, CommandResult* ended, std::uint32_t timeLimit);

// What a command asks of the bridge beyond its registers.
struct SatAsk {
  // CK_COND, where the target's bridge was found to honour it: the registers
  // come back in the sense data, and the count register reaches the result.
  bool registersBack = false;
  // T_LENGTH 3: the transfer is `transferLength` bytes, whatever the count
  // register says. Asked for, or needed (above 255 blocks) where the target's
  // bridge was found to take it.
  bool lengthFromTransfer = false;
  std::uint32_t transferLength = 0;
};

// Whether a command goes with T_LENGTH 3, and the bytes it then moves.
bool SatLengthFromTransfer(const DriveTarget& target, DataDirection direction, const SatAsk& ask);
std::uint32_t SatTransferLength(const DriveTarget& target, DataDirection direction,
                                const AtaTaskFile& regs, const SatAsk& ask);

// The entries by data direction, on DriveTarget.scsiHandle with the form the
// target keeps (TargetSatForm). Registers 1-7 only. The PIO entries move
// count x 512 bytes, or the transfer length with T_LENGTH 3. Completed exactly
// when the result code is 0, or when the bridge answered CK_COND with the
// registers and no error.
CommandResult SatNonData(TransportContext& t, const AtaTaskFile& regs,
                         std::uint32_t timeLimit = kCommandTimeLimit, const SatAsk& ask = {});
CommandResult SatPioIn(TransportContext& t, std::span<std::uint8_t> buffer, const AtaTaskFile& regs,
                       std::uint32_t timeLimit = kCommandTimeLimit, const SatAsk& ask = {});
CommandResult SatPioOut(TransportContext& t, std::span<std::uint8_t> buffer,
                        const AtaTaskFile& regs, std::uint32_t timeLimit = kCommandTimeLimit,
                        const SatAsk& ask = {});

}  // namespace brisquel
