// PIO transport: the task-file registers of an IDE/SATA channel driven through
// the port library, one register access per call, no interrupts, no DMA; each
// wait ends at the command's time limit. The channel is DriveTarget.basePort;
// device 1 when DriveTarget.slave. The outcome of every command is AtaStatusBits after the
// last wait.
#pragma once

#include <cstdint>
#include <span>

#include "transport/AtaTypes.h"
#include "transport/TransportState.h"

namespace brisquel {

inline constexpr std::uint16_t kWordsPerSector = 256;

// Reads the channel's device register, clears DEV (bit 4), sets it again for
// device 1 and writes it back.
void SetDeviceSelect(PortLibrary& ports, std::uint16_t basePort, bool device1);

// Device, features, count, LBA low/mid/high, command (fields 1-7).
void WriteTaskFile28(TransportContext& t, const AtaTaskFile& regs);
// Device, the five previous bytes, the five current bytes, command.
void WriteTaskFile48(TransportContext& t, const AtaTaskFile& regs);

// One 8-bit read of the status (+7) or error (+1) register, decoded into its
// group of AtaStatusBits. Both do nothing while the target is a SCSI
// pass-through drive.
void ReadStatus(TransportContext& t);
void ReadError(TransportContext& t);

// How a wait ended.
enum class WaitEnd {
  ready,     // the condition the wait polls for
  error,     // BSY clear and ERR set: the command has ended in error
  floating,  // status FF: no drive drives the bus, or 00h held: no device 1 (logged)
  stopped,   // Break
  timedOut,  // the command's time limit passed first (logged)
};

// Poll until not busy, ready and seek-complete, until the drive reports an
// error (ERR or DF), until Break, or until `limitSeconds` have passed on the
// port library's clock; then ReadError. A status of FF ends it at once, and
// one of 00h that holds for 50 ms: no drive answers there, and none ever will.
WaitEnd WaitReady(TransportContext& t, std::uint32_t limitSeconds = kCommandTimeLimit);
// Poll until not busy, or until Break; then ReadError. Ends on FF, 00h and the
// time limit like WaitReady.
WaitEnd WaitNotBusy(TransportContext& t, std::uint32_t limitSeconds = kCommandTimeLimit);
// One read of the count register (+2).
std::uint8_t PioReadCount(TransportContext& t);

// WaitNotBusy when DriveTarget.waitBusyOnly, else WaitReady.
WaitEnd WaitDevice(TransportContext& t, std::uint32_t limitSeconds = kCommandTimeLimit);

// Wait, one sector (256 words) from the data port into the buffer, wait again.
// Without a buffer: TransferBuffer.
void PioReadSector(TransportContext& t);
void PioReadSector(TransportContext& t, std::span<std::uint8_t> buffer,
                   std::uint32_t limitSeconds = kCommandTimeLimit);

// n sectors from the start of the buffer to the data port, a wait after each;
// stops before the next sector once BreakFlag is set or the drive has ended
// the command (ERR set, DRQ clear). n <= 0 sends nothing;
// sectors that would reach past the buffer are not sent. Without a buffer:
// TransferBuffer. Returns the sectors that went out; `lastWait`, when given,
// gets how the last wait after a sector ended.
std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n);
std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n,
                              std::span<const std::uint8_t> buffer,
                              std::uint32_t limitSeconds = kCommandTimeLimit,
                              WaitEnd* lastWait = nullptr);

// The bare data phase of one sector, no waits: 256 words between the data port
// and the first 512 bytes of the buffer (fewer if the buffer is shorter).
void PioReadWords(TransportContext& t, std::span<std::uint8_t> buffer);
void PioWriteWords(TransportContext& t, std::span<const std::uint8_t> buffer);

}  // namespace brisquel
