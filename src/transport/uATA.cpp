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

std::string ChannelText(const TransportContext& t) {
  char port[8];
  std::snprintf(port, sizeof port, "%04X", static_cast<unsigned>(t.state.DriveTarget.basePort));
  return port;
}

std::string Hex2(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

// Status 00h this long after the device select is no drive: ATA's device 0
// answers 00h for an absent device 1 and ignores its commands, so the wait
// would otherwise last to its limit.
constexpr std::uint64_t kAbsentDeviceMs = 50;

// What one status read of a wait says: judge the bits, read again (00h within
// its grace), or the wait is over (`ending`).
enum class StatusSeen { bits, zero, ended };

// One wait's reading of the status: each read either leaves the wait to judge
// the bits, or ends it because nothing will ever answer (a floating bus, an
// absent device 1) or its time limit has passed. Each ending is logged.
class StatusWatch {
 public:
  StatusWatch(TransportContext& t, std::uint32_t limitSeconds)
      : t_(t), start_(t.ports.WaitClockMs()), limitMs_(std::uint64_t{limitSeconds} * 1000) {}

  WaitEnd ending = WaitEnd::stopped;

  StatusSeen Read() {
    const std::optional<std::uint8_t> status = ReadStatusByte(t_);
    const std::uint64_t now = t_.ports.WaitClockMs();
    if (status == kStatusFloating) {
      t_.host.LogLine("PIO: no drive answers on the channel at " + ChannelText(t_) +
                      " (status FF: the bus floats)");
      return End(WaitEnd::floating);
    }
    if (status == 0) {
      if (!zeroSince_) zeroSince_ = now;
      if (now - *zeroSince_ >= kAbsentDeviceMs) {
        t_.host.LogLine("PIO: no drive answers at device " + Device() + " on the channel at " +
                        ChannelText(t_) + " (status 00h)");
        return End(WaitEnd::floating);
      }
      return StatusSeen::zero;
    }
    zeroSince_.reset();
    if (now - start_ >= limitMs_) {
      t_.host.LogLine("PIO: the command's time limit (" + std::to_string(limitMs_ / 1000) +
                      " s) expired at device " + Device() + " on the channel at " +
                      ChannelText(t_) + " (status " + Hex2(status.value_or(0)) + "h)");
      return End(WaitEnd::timedOut);
    }
    return StatusSeen::bits;
  }

 private:
  StatusSeen End(WaitEnd end) {
    ending = end;
    return StatusSeen::ended;
  }

  std::string Device() const { return t_.state.DriveTarget.slave ? "1" : "0"; }

  TransportContext& t_;
  std::uint64_t start_, limitMs_;
  std::optional<std::uint64_t> zeroSince_;
};

bool EndedInError(const AtaStatusBits& bits) {
  return !bits.BSY && (bits.ERR || bits.DF);
}

}  // namespace

void ReadStatus(TransportContext& t) {
  ReadStatusByte(t);
}

void ReadError(TransportContext& t) {
  if (ScsiTarget(t)) return;
  t.state.AtaStatusBits.DecodeError(t.ports.ReadIoPortByte(Port(t, pioport::kFeatures)));
}

WaitEnd WaitReady(TransportContext& t, std::uint32_t limitSeconds) {
  const bool& breakFlag = t.state.BreakFlag;
  const AtaStatusBits& bits = t.state.AtaStatusBits;
  StatusWatch watch(t, limitSeconds);
  WaitEnd end = WaitEnd::stopped;
  while (!breakFlag) {
    const StatusSeen seen = watch.Read();
    if (seen == StatusSeen::ended) {
      end = watch.ending;
      break;
    }
    if (seen == StatusSeen::zero) {
      t.host.PumpMessages();
      continue;
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

WaitEnd WaitNotBusy(TransportContext& t, std::uint32_t limitSeconds) {
  const bool& breakFlag = t.state.BreakFlag;
  StatusWatch watch(t, limitSeconds);
  WaitEnd end = WaitEnd::stopped;
  while (!breakFlag) {
    t.host.PumpMessages();
    if (breakFlag) break;
    const StatusSeen seen = watch.Read();
    if (seen == StatusSeen::ended) {
      end = watch.ending;
      break;
    }
    if (seen == StatusSeen::zero) continue;
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

WaitEnd WaitDevice(TransportContext& t, std::uint32_t limitSeconds) {
  return t.state.DriveTarget.waitBusyOnly ? WaitNotBusy(t, limitSeconds)
                                          : WaitReady(t, limitSeconds);
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

void PioReadSector(TransportContext& t, std::span<std::uint8_t> buffer,
                   std::uint32_t limitSeconds) {
  if (ScsiTarget(t)) return;
  WaitDevice(t, limitSeconds);
  PioReadWords(t, buffer);
  WaitDevice(t, limitSeconds);
}

std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n) {
  return PioWriteSectors(t, n, t.state.TransferBuffer);
}

std::uint32_t PioWriteSectors(TransportContext& t, std::int32_t n,
                              std::span<const std::uint8_t> buffer, std::uint32_t limitSeconds,
                              WaitEnd* lastWait) {
  // A count beyond the buffer sends the sectors the buffer holds and no more.
  const std::size_t available = buffer.size() / kSectorSize;
  const std::size_t sectors =
      n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), available) : 0;
  std::uint32_t written = 0;
  while (written < sectors && !t.state.BreakFlag) {
    PioWriteWords(t, buffer.subspan(written * kSectorSize, kSectorSize));
    ++written;
    t.host.SectorsWritten(written);
    const WaitEnd end = WaitDevice(t, limitSeconds);
    if (lastWait) *lastWait = end;
    // A drive that has ended the command takes no more data.
    if (end == WaitEnd::floating || end == WaitEnd::timedOut ||
        (end == WaitEnd::error && !t.state.AtaStatusBits.DRQ)) {
      break;
    }
  }
  return written;
}

}  // namespace brisquel
