#include "transport/uATA.h"

#include <algorithm>
#include <cstddef>

#include "transport/PassThroughBlocks.h"

namespace brisquel {

namespace {

std::uint16_t Port(const TransportContext& t, std::uint16_t offset) {
  return static_cast<std::uint16_t>(t.state.DriveTarget.basePort + offset);
}

void WriteRegister(TransportContext& t, std::uint16_t offset, std::uint8_t value) {
  t.ports.WriteIoPortByte(Port(t, offset), value);
}

// Features, count, LBA low, mid, high: +1 to +5 in that order.
void WriteFiveRegisters(TransportContext& t, std::uint8_t features, std::uint8_t count,
                        std::uint8_t lbaLow, std::uint8_t lbaMid, std::uint8_t lbaHigh) {
  WriteRegister(t, pioport::kFeatures, features);
  WriteRegister(t, pioport::kCount, count);
  WriteRegister(t, pioport::kLbaLow, lbaLow);
  WriteRegister(t, pioport::kLbaMid, lbaMid);
  WriteRegister(t, pioport::kLbaHigh, lbaHigh);
}

// The pass-through transports address a drive by its handle; over PIO the DEV
// bit picks device 1.
std::uint8_t DeviceByte(const TransportContext& t, std::uint8_t device) {
  return t.state.DriveTarget.slave ? static_cast<std::uint8_t>(device | 0x10) : device;
}

bool ScsiTarget(const TransportContext& t) {
  return t.state.DriveTarget.kind == TransportKind::scsiPassThrough;
}

// Words that fit in a buffer of this many bytes, at most one sector's worth.
std::size_t WordsThatFit(std::size_t bytes) {
  return std::min<std::size_t>(kWordsPerSector, bytes / 2);
}

}  // namespace

void WriteTaskFile28(TransportContext& t, const AtaTaskFile& regs) {
  WriteRegister(t, pioport::kDevice, DeviceByte(t, regs.device));
  WriteFiveRegisters(t, regs.features, regs.count, regs.lbaLow, regs.lbaMid, regs.lbaHigh);
  WriteRegister(t, pioport::kCommand, regs.command);
}

void WriteTaskFile48(TransportContext& t, const AtaTaskFile& regs) {
  WriteRegister(t, pioport::kDevice, DeviceByte(t, regs.device));
  // The registers are two-deep: the previous byte goes in first.
  WriteFiveRegisters(t, regs.featuresPrev, regs.countPrev, regs.lbaLowPrev, regs.lbaMidPrev,
                     regs.lbaHighPrev);
  WriteFiveRegisters(t, regs.features, regs.count, regs.lbaLow, regs.lbaMid, regs.lbaHigh);
  WriteRegister(t, pioport::kCommand, regs.command);
}

void ReadStatus(TransportContext& t) {
  if (ScsiTarget(t)) return;
  t.state.AtaStatusBits.DecodeStatus(t.ports.ReadIoPortByte(Port(t, pioport::kCommand)));
}

void ReadError(TransportContext& t) {
  if (ScsiTarget(t)) return;
  t.state.AtaStatusBits.DecodeError(t.ports.ReadIoPortByte(Port(t, pioport::kFeatures)));
}

void WaitReady(TransportContext& t) {
  const bool& breakFlag = t.state.BreakFlag;
  const AtaStatusBits& bits = t.state.AtaStatusBits;
  while (!breakFlag) {
    ReadStatus(t);
    if (breakFlag) break;
    // Judged on this read, before the pump gives anything else a chance to run.
    const bool ready = !bits.BSY && bits.DRDY && bits.DSC;
    t.host.PumpMessages();
    if (ready) break;
  }
  ReadError(t);
}

void WaitNotBusy(TransportContext& t) {
  const bool& breakFlag = t.state.BreakFlag;
  while (!breakFlag) {
    t.host.PumpMessages();
    if (breakFlag) break;
    ReadStatus(t);
    if (!t.state.AtaStatusBits.BSY) break;
  }
  ReadError(t);
}

void WaitDevice(TransportContext& t) {
  if (t.state.DriveTarget.waitBusyOnly) {
    WaitNotBusy(t);
  } else {
    WaitReady(t);
  }
}

void PioReadWords(TransportContext& t, std::span<std::uint8_t> buffer) {
  const std::uint16_t port = Port(t, pioport::kData);
  const std::size_t words = WordsThatFit(buffer.size());
  for (std::size_t i = 0; i < words; ++i) {
    PutU16(&buffer[2 * i], t.ports.ReadIoPortWord(port));
  }
}

void PioWriteWords(TransportContext& t, std::span<const std::uint8_t> buffer) {
  const std::uint16_t port = Port(t, pioport::kData);
  const std::size_t words = WordsThatFit(buffer.size());
  for (std::size_t i = 0; i < words; ++i) {
    t.ports.WriteIoPortWord(port, GetU16(&buffer[2 * i]));
  }
}

void PioReadSector(TransportContext& t) {
  PioReadSector(t, t.state.TransferBuffer);
}

void PioReadSector(TransportContext& t, std::span<std::uint8_t> buffer) {
  if (ScsiTarget(t)) return;
  WaitDevice(t);
  PioReadWords(t, buffer);
  WaitDevice(t);
}

void PioWriteSectors(TransportContext& t, std::int32_t n) {
  PioWriteSectors(t, n, t.state.TransferBuffer);
}

void PioWriteSectors(TransportContext& t, std::int32_t n, std::span<const std::uint8_t> buffer) {
  // A count beyond the buffer sends the sectors the buffer holds and no more.
  const std::size_t available = buffer.size() / kSectorSize;
  const std::size_t sectors =
      n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), available) : 0;
  for (std::size_t k = 0; k < sectors && !t.state.BreakFlag; ++k) {
    PioWriteWords(t, buffer.subspan(k * kSectorSize, kSectorSize));
    WaitDevice(t);
  }
}

}  // namespace brisquel
