// ATA pass-through transport: one ATA command, with its full 48-bit task file,
// handed to the operating system's ATA pass-through request on
// DriveTarget.ataPassHandle. Decodes the returned registers into AtaStatusBits.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "transport/AtaTypes.h"
#include "transport/RequestRules.h"
#include "transport/TransportState.h"

namespace brisquel {

// The request block: ATA_PASS_THROUGH_EX in its 64-bit layout, directly
// followed by `length` bytes of data area; one block is input and output.
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
//   12   4   TimeOutValue         timeLimit (seconds)
//   16   4   reserved             0
//   20   4   (alignment)          0
//   24   8   DataBufferOffset     48
//   32   8   PreviousTaskFile     featuresPrev countPrev lbaLowPrev lbaMidPrev
//                                 lbaHighPrev 0 0 0
//   40   8   CurrentTaskFile      features count lbaLow lbaMid lbaHigh device
//                                 command 0
//   48   n   data area            data-out: the first `length` bytes of `data`;
//                                 otherwise zero
//
// Every command goes with the 48-bit flag; a 28-bit command simply has zero
// previous bytes.
std::vector<std::uint8_t> BuildAtaPassThroughEx(const AtaTaskFile& regs, DataDirection direction,
                                                std::uint32_t length,
                                                std::span<const std::uint8_t> data = {},
                                                std::uint32_t timeLimit = kCommandTimeLimit);

// Input and output sizes handed to the request: data-in 48 / 48+length,
// data-out 48+length / 48, no data 48 / 48.
RequestSizes AtaPassThroughSizes(DataDirection direction, std::uint32_t length);

// The system's message text as the log shows it: at most 255 characters, then
// trailing characters at or below the space and trailing periods removed.
std::string TrimSystemMessage(std::string text);

// Sends one command: completed when the returned status has ERR clear. On a data-in
// success the buffer receives `length` bytes; on any failure `length` bytes of
// it are zeroed. A request the system refuses is logged as
// "IOCTL_ATA_PASS_THROUGH " + the system's text for the error; one refused
// because its time limit (seconds) expired ends as timedOut. A length that
// does not fit in the buffer is refused (logged, nothing sent, buffer kept).
CommandResult AtaPassThrough(TransportContext& t, const AtaTaskFile& regs,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, std::uint32_t timeLimit = kCommandTimeLimit);

}  // namespace brisquel
