#include "transport/uATA.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "transport/AtaProtocol.h"
#include "transport/Bytes.h"

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

bool ScsiTarget(const TransportContext& t) {
  return t.state.DriveTarget.kind == TransportKind::scsiPassThrough;
}

// Words that fit in a buffer of this many bytes, at most one sector's worth.
std::size_t WordsThatFit(std::size_t bytes) {
  return std::min<std::size_t>(kWordsPerSector, bytes / 2);
}

}  // namespace

void SetDeviceSelect(PortLibrary& ports, std::uint16_t basePort, bool device1) {
  const auto port = static_cast<std::uint16_t>(basePort + pioport::kDevice);
  const std::uint8_t device = ports.ReadIoPortByte(port);
  ports.WriteIoPortByte(
      port, static_cast<std::uint8_t>((device & ~kDeviceDev) | (device1 ? kDeviceDev : 0)));
}

void WriteTaskFile28(TransportContext& t, const AtaTaskFile& regs) {
  WriteRegister(t, pioport::kDevice, PioDeviceByte(t.state.DriveTarget, regs.device));
  WriteFiveRegisters(t, regs.features, regs.count, regs.lbaLow, regs.lbaMid, regs.lbaHigh);
  WriteRegister(t, pioport::kCommand, regs.command);
}

void WriteTaskFile48(TransportContext& t, const AtaTaskFile& regs) {
  WriteRegister(t, pioport::kDevice, PioDeviceByte(t.state.DriveTarget, regs.device));
  // The registers are two-deep: the previous byte goes in first.
  WriteFiveRegisters(t, regs.featuresPrev, regs.countPrev, regs.lbaLowPrev, regs.lbaMidPrev,
                     regs.lbaHighPrev);
  WriteFiveRegisters(t, regs.features, regs.count, regs.lbaLow, regs.lbaMid, regs.lbaHigh);
  WriteRegister(t, pioport::kCommand, regs.command);
}

namespace {

// Reads and decodes the status register; the byte as read, none for a SCSI target.
std::optional<std::uint8_t> ReadStatusByte(TransportContext& t) {
  if (ScsiTarget(t)) return std::nullopt;
  const std::uint8_t status = t.ports.ReadIoPortByte(Port(t, pioport::kCommand));
  t.state.AtaStatusBits.DecodeStatus(status);
  return status;
}

// One status read; FF is logged, since the wait it ends would otherwise spin
// on a channel with no drive until Break.
bool StatusFloats(TransportContext& t) {
  if (ReadStatusByte(t) != kStatusFloating) return false;
  char port[8];
  std::snprintf(port, sizeof port, "%04X", static_cast<unsigned>(t.state.DriveTarget.basePort));
  t.host.LogLine(std::string("PIO: no drive answers on the channel at ") + port +
                 " (status FF: the bus floats)");
  return true;
}

bool EndedInError(const AtaStatusBits& bits) {
  return !bits.BSY && bits.ERR;
}

}  // namespace

void ReadStatus(TransportContext& t) {
  ReadStatusByte(t);
}

void ReadError(TransportContext& t) {
  if (ScsiTarget(t)) return;
  t.state.AtaStatusBits.DecodeError(t.ports.ReadIoPortByte(Port(t, pioport::kFeatures)));
}

WaitEnd WaitReady(TransportContext& t) {
  const bool& breakFlag = t.state.BreakFlag;
  const AtaStatusBits& bits = t.state.AtaStatusBits;
  WaitEnd end = WaitEnd::stopped;
  while (!breakFlag) {
    if (StatusFloats(t)) {
      end = WaitEnd::floating;
      break;
    }
    if (breakFlag) break;
    // Judged on this read, before the pump gives anything else a chance to run.
    const bool ready = !bits.BSY && bits.DRDY && bits.DSC;
    // A drive that aborted a command need not set DSC: its answer is in.
    const bool failed = EndedInError(bits);
    t.host.PumpMessages();
    if (ready || failed) {
      end = failed ? WaitEnd::error : WaitEnd::ready;
      break;
    }
  }
  ReadError(t);
  return end;
}

WaitEnd WaitNotBusy(TransportContext& t) {
  const bool& breakFlag = t.state.BreakFlag;
  WaitEnd end = WaitEnd::stopped;
  while (!breakFlag) {
    t.host.PumpMessages();
    if (breakFlag) break;
    if (StatusFloats(t)) {
      end = WaitEnd::floating;
      break;
    }
    if (!t.state.AtaStatusBits.BSY) {
      end = t.state.AtaStatusBits.ERR ? WaitEnd::error : WaitEnd::ready;
      break;
    }
  }
  ReadError(t);
  return end;
}

std::uint8_t PioReadCount(TransportContext& t) {
  return t.ports.ReadIoPortByte(Port(t, pioport::kCount));
}

WaitEnd WaitDevice(TransportContext& t) {
  return t.state.DriveTarget.waitBusyOnly ? WaitNotBusy(t) : WaitReady(t);
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

std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n) {
  return PioWriteSectors(t, n, t.state.TransferBuffer);
}

std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n,
                              std::span<const std::uint8_t> buffer) {
  // A count beyond the buffer sends the sectors the buffer holds and no more.
  const std::size_t available = buffer.size() / kSectorSize;
  const std::size_t sectors =
      n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), available) : 0;
  std::uint32_t written = 0;
  while (written < sectors && !t.state.BreakFlag) {
    PioWriteWords(t, buffer.subspan(written * kSectorSize, kSectorSize));
    ++written;
    t.host.SectorsWritten(written);
    const WaitEnd end = WaitDevice(t);
    // A drive that has ended the command takes no more data.
    if (end == WaitEnd::floating || (end == WaitEnd::error && !t.state.AtaStatusBits.DRQ)) break;
  }
  return written;
}

}  // namespace brisquel
