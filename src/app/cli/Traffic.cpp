#include "app/cli/Traffic.h"

#include <algorithm>

#include "ops/VendorChannel.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::cli {

namespace {

constexpr std::uint8_t kDownloadMicrocode = 0x92;
constexpr std::uint8_t kSmart = 0xB0;
constexpr std::uint8_t kSmartReadLog = 0xD5;
constexpr std::uint8_t kSmartWriteLog = 0xD6;
constexpr std::uint8_t kKeyLog = 0xBE;
constexpr std::uint8_t kDataLog = 0xBF;

// The registers of a SAT ATA PASS-THROUGH command block, (12) or (16). The
// 12-byte form goes out with CdbLength 10: its registers end at byte 9.
bool RegistersFromCdb(const std::uint8_t* cdb, std::uint8_t cdbLength, AtaTaskFile& regs) {
  if (cdb[0] == 0xA1 && cdbLength >= 10) {
    regs.features = cdb[3], regs.count = cdb[4], regs.lbaLow = cdb[5];
    regs.lbaMid = cdb[6], regs.lbaHigh = cdb[7], regs.device = cdb[8], regs.command = cdb[9];
    return true;
  }
  if (cdb[0] == 0x85 && cdbLength >= 16) {
    regs.features = cdb[4], regs.count = cdb[6], regs.lbaLow = cdb[8];
    regs.lbaMid = cdb[10], regs.lbaHigh = cdb[12], regs.device = cdb[13], regs.command = cdb[14];
    return true;
  }
  return false;
}

// The data area a request block points at, cut to the block's own size.
std::span<const std::uint8_t> DataArea(const std::uint8_t* block, std::uint32_t blockSize,
                                       std::uint64_t offset, std::uint32_t length) {
  if (offset >= blockSize) return {};
  return {block + offset, std::min<std::uint64_t>(length, blockSize - offset)};
}

}  // namespace

void TrafficMeter::SetTotal(std::uint64_t sectors) {
  total_ = sectors;
}

void TrafficMeter::Notify() {
  if (onChange) onChange(Sent(), std::max(total_, Sent()));
}

void TrafficMeter::OnCommand(const AtaTaskFile& regs) {
  headSize_ = 0;
  kind_ = Kind::other;
  if (regs.command == kDownloadMicrocode) {
    kind_ = Kind::firmwareData;
  } else if (regs.command == kSmart && regs.features == kSmartWriteLog && regs.lbaLow == kDataLog) {
    kind_ = Kind::firmwareData;
  } else if (regs.command == kSmart && regs.features == kSmartWriteLog && regs.lbaLow == kKeyLog) {
    kind_ = Kind::keySector;
    downloadKeySent_ = false;
  } else if (regs.command == kSmart && regs.features == kSmartReadLog && regs.lbaLow == kKeyLog) {
    kind_ = Kind::statusRead;
  }
}

void TrafficMeter::OnDataOut(std::span<const std::uint8_t> bytes) {
  if (kind_ == Kind::firmwareData) {
    const auto before = Sent();
    sentBytes_ += bytes.size();
    if (Sent() != before) Notify();
  } else if (kind_ == Kind::keySector && headSize_ < 2) {
    for (std::size_t i = 0; i < bytes.size() && headSize_ < 2; ++i) head_[headSize_++] = bytes[i];
    if (headSize_ == 2) {
      downloadKeySent_ = GetU16(head_.data()) == KeySector::Download(0).words[0];
    }
  }
}

void TrafficMeter::OnDataIn(std::span<const std::uint8_t> bytes) {
  if (kind_ != Kind::statusRead || !downloadKeySent_) return;
  for (std::size_t i = 0; i < bytes.size() && headSize_ < head_.size(); ++i) {
    head_[headSize_++] = bytes[i];
  }
  if (headSize_ == head_.size()) {
    // The drive's answer to the download key sector: the sectors it wants.
    downloadKeySent_ = false;
    SetTotal(VendorStatus::From(head_).replyValue);
  }
}

std::uint16_t MeteredPorts::ReadIoPortWord(std::uint16_t port) {
  const std::uint16_t word = inner_.ReadIoPortWord(port);
  if (port == target_.basePort) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(word),
                                   static_cast<std::uint8_t>(word >> 8)};
    meter_.OnDataIn(bytes);
  }
  return word;
}

void MeteredPorts::WriteIoPortWord(std::uint16_t port, std::uint16_t value) {
  inner_.WriteIoPortWord(port, value);
  if (port == target_.basePort) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8)};
    meter_.OnDataOut(bytes);
  }
}

void MeteredPorts::WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
  inner_.WriteIoPortByte(port, value);
  const std::uint16_t base = target_.basePort;
  if (port <= base || port > base + 7) return;
  // 48-bit commands write each register twice; the last write is the current byte.
  switch (port - base) {
    case 1:
      regs_.features = value;
      break;
    case 2:
      regs_.count = value;
      break;
    case 3:
      regs_.lbaLow = value;
      break;
    case 4:
      regs_.lbaMid = value;
      break;
    case 5:
      regs_.lbaHigh = value;
      break;
    case 6:
      regs_.device = value;
      break;
    case 7:
      regs_.command = value;
      meter_.OnCommand(regs_);
      break;
  }
}

bool MeteredDeviceIo::DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                                      std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                      std::uint32_t* bytesReturned) {
  const auto* in = static_cast<const std::uint8_t*>(inBuffer);
  AtaTaskFile regs;
  DataDirection direction = DataDirection::none;
  std::uint64_t dataOffset = 0;
  std::uint32_t dataLength = 0;
  bool known = false;
  if (ioControlCode == IOCTL_ATA_PASS_THROUGH_ && in && inSize >= ataptx::kHeaderSize) {
    const std::uint8_t* tf = in + ataptx::kCurrentTaskFile;
    regs.features = tf[0], regs.count = tf[1], regs.lbaLow = tf[2], regs.lbaMid = tf[3];
    regs.lbaHigh = tf[4], regs.device = tf[5], regs.command = tf[6];
    const std::uint16_t flags = GetU16(in + ataptx::kAtaFlags);
    direction = (flags & ataptx::ATA_FLAGS_DATA_OUT)  ? DataDirection::out
                : (flags & ataptx::ATA_FLAGS_DATA_IN) ? DataDirection::in
                                                      : DataDirection::none;
    dataOffset = GetU64(in + ataptx::kDataBufferOffset);
    dataLength = GetU32(in + ataptx::kDataTransferLength);
    known = true;
  } else if (ioControlCode == IOCTL_SCSI_PASS_THROUGH_ && in && inSize >= scsiptx::kHeaderSize) {
    known = RegistersFromCdb(in + scsiptx::kCdb, in[scsiptx::kCdbLength], regs);
    const std::uint8_t dataIn = in[scsiptx::kDataIn];
    direction = dataIn == scsiptx::SCSI_IOCTL_DATA_OUT  ? DataDirection::out
                : dataIn == scsiptx::SCSI_IOCTL_DATA_IN ? DataDirection::in
                                                        : DataDirection::none;
    dataOffset = GetU64(in + scsiptx::kDataBufferOffset);
    dataLength = GetU32(in + scsiptx::kDataTransferLength);
  }

  const bool ok = inner_.DeviceIoControl(handle, ioControlCode, inBuffer, inSize, outBuffer,
                                         outSize, bytesReturned);
  // A request the system refused never reached the drive.
  if (!known || !ok) return ok;
  meter_.OnCommand(regs);
  if (direction == DataDirection::out) {
    meter_.OnDataOut(DataArea(in, inSize, dataOffset, dataLength));
  } else if (direction == DataDirection::in && outBuffer) {
    meter_.OnDataIn(
        DataArea(static_cast<const std::uint8_t*>(outBuffer), outSize, dataOffset, dataLength));
  }
  return ok;
}

}  // namespace brisquel::cli
