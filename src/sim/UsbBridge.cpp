#include "sim/UsbBridge.h"

#include <algorithm>

#include "sim/HostAdapter.h"
#include "transport/AtaProtocol.h"
#include "transport/DeviceIo.h"
#include "transport/SenseData.h"

namespace brisquel::sim {

namespace {

SatDecode Reject(std::uint8_t asc, std::optional<std::uint8_t> fieldPointer) {
  SatDecode d;
  d.rejection = {scsi::kIllegalRequest, asc, 0, fieldPointer};
  return d;
}

SatDecode InvalidField(std::uint8_t fieldPointer) {
  return Reject(scsi::kAscInvalidFieldInCdb, fieldPointer);
}

// READ/WRITE MULTIPLE and their 48-bit forms: the only commands that may carry
// a MULTIPLE_COUNT.
bool IsMultipleCommand(std::uint8_t command) {
  return command == 0xC4 || command == 0xC5 || command == 0x29 || command == 0x39 ||
         command == 0xCE;
}

}  // namespace

// Byte 1: MULTIPLE_COUNT (7..5), PROTOCOL (4..1), EXTEND (0, 16-byte form only).
// Byte 2: OFF_LINE (7..6), CK_COND (5), T_TYPE (4), T_DIR (3), BYT_BLOK (2),
//         T_LENGTH (1..0: 0 none, 1 features, 2 sector count, 3 TPSIU).
// 12-byte: 3 features, 4 count, 5..7 LBA low/mid/high, 8 device, 9 command.
// 16-byte: odd bytes 3..11 the previous (15:8) bytes of features, count, LBA
//          low/mid/high, even bytes 4..12 the current ones, 13 device, 14 command.
SatDecode DecodeSatCdb(std::span<const std::uint8_t> cdb, DataDirection direction,
                       std::uint32_t transferLength) {
  const std::uint8_t opcode = cdb.empty() ? 0 : cdb[0];
  const bool is16 = opcode == kAtaPassThrough16;
  if (opcode != kAtaPassThrough12 && !is16) {
    return Reject(scsi::kAscInvalidOpcode, std::nullopt);
  }
  if (cdb.size() < (is16 ? 16u : 10u)) {
    return InvalidField(0);
  }
  auto at = [&](std::size_t i) -> std::uint8_t { return i < cdb.size() ? cdb[i] : 0; };

  const std::uint8_t protocol = (at(1) >> 1) & 0x0F;
  const bool knownProtocol = protocol == 3 || protocol == 4 || protocol == 5 || protocol == 6 ||
                             protocol == 10 || protocol == 11 || protocol == 12;
  if (!knownProtocol) {
    return InvalidField(1);
  }
  const std::uint8_t tLength = at(2) & kSatTLengthMask;
  if (tLength == kSatTLengthNone && direction != DataDirection::none) {
    return InvalidField(2);
  }

  SatCommand c;
  AtaTaskFile& t = c.regs;
  if (is16) {
    c.extend = at(1) & kSatExtend;
    if (c.extend) {
      t.featuresPrev = at(3);
      t.countPrev = at(5);
      t.lbaLowPrev = at(7);
      t.lbaMidPrev = at(9);
      t.lbaHighPrev = at(11);
    }
    t.features = at(4);
    t.count = at(6);
    t.lbaLow = at(8);
    t.lbaMid = at(10);
    t.lbaHigh = at(12);
    t.device = at(13);
    t.command = at(14);
  } else {
    t.features = at(3);
    t.count = at(4);
    t.lbaLow = at(5);
    t.lbaMid = at(6);
    t.lbaHigh = at(7);
    t.device = at(8);
    t.command = at(9);
  }

  // DMA and NCQ need a DMA mode, which the bench's drives do not have.
  if (protocol >= 6) {
    return InvalidField(1);
  }
  if ((at(1) & kSatMultipleCount) && !IsMultipleCommand(t.command)) {
    return InvalidField(1);
  }
  // SET FEATURES - XFER MODE would leave the host's timing out of step.
  if (t.command == 0xEF && t.features == 0x03) {
    return InvalidField(is16 ? 4 : 3);
  }
  // The trusted commands stay closed.
  if (t.command >= 0x5C && t.command <= 0x5F) {
    return InvalidField(is16 ? 14 : 9);
  }

  // The rest of SAT's consistency: protocol, T_DIR and the request's direction
  // agree, and the length the fields give is the length of the request.
  c.protocol = static_cast<SatProtocol>(protocol);
  const bool tDirIn = at(2) & kSatTDirFromDevice;
  const DataDirection wanted = c.protocol == SatProtocol::pioIn    ? DataDirection::in
                               : c.protocol == SatProtocol::pioOut ? DataDirection::out
                                                                   : DataDirection::none;
  if (direction != wanted) {
    return InvalidField(1);
  }
  if (wanted == DataDirection::none ? tLength != kSatTLengthNone
                                    : tDirIn != (wanted == DataDirection::in)) {
    return InvalidField(2);
  }
  std::uint32_t length = 0;
  if (tLength == kSatTLengthFeatures) {
    length = t.features | (static_cast<std::uint32_t>(t.featuresPrev) << 8);
  } else if (tLength == kSatTLengthCount) {
    length = t.count | (static_cast<std::uint32_t>(t.countPrev) << 8);
  }
  if (tLength == kSatTLengthTransfer) {
    length = transferLength;
  } else if (at(2) & kSatBytBlok) {
    length *= 512;
  }
  if (length != transferLength) {
    return InvalidField(2);
  }
  c.direction = direction;
  c.byteCount = length;
  c.ckCond = at(2) & kSatCkCond;
  SatDecode d;
  d.command = c;
  return d;
}

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  return WriteSenseData({.format = SenseData::Format::fixed, .key = key, .asc = asc, .ascq = ascq});
}

std::vector<std::uint8_t> RejectionSense(const SatRejection& rejection) {
  return WriteSenseData({.format = SenseData::Format::fixed,
                         .key = rejection.senseKey,
                         .asc = rejection.asc,
                         .ascq = rejection.ascq,
                         .fieldPointer = rejection.fieldPointer});
}

namespace {

// The registers as a SAT layer hands them back: error in features' place and
// status in the command's. The previous bytes are not read back from the
// drive and go as zero.
AtaStatusReturn Returned(const AtaTaskFile& r, bool extend) {
  return {.extend = extend,
          .error = r.features,
          .count = r.count,
          .lbaLow = r.lbaLow,
          .lbaMid = r.lbaMid,
          .lbaHigh = r.lbaHigh,
          .device = r.device,
          .status = r.command};
}

// A failed command: fixed format, the registers in INFORMATION (error, status,
// device, count) and COMMAND-SPECIFIC INFORMATION (flags, LBA low, mid, high).
std::vector<std::uint8_t> AtaErrorSense(const AtaTaskFile& r, bool extend) {
  return WriteSenseData({.format = SenseData::Format::fixed,
                         .key = scsi::kAbortedCommand,
                         .ata = Returned(r, extend)});
}

// CK_COND on success: descriptor format, RECOVERED ERROR, "ATA pass-through
// information available", and the ATA Status Return descriptor.
std::vector<std::uint8_t> AtaReturnSense(const AtaTaskFile& r, bool extend) {
  return WriteSenseData({.format = SenseData::Format::descriptor,
                         .key = scsi::kRecoveredError,
                         .asc = 0x00,
                         .ascq = 0x1D,
                         .ata = Returned(r, extend)});
}

}  // namespace

BridgeBehaviour RefusingBridge() {
  BridgeBehaviour b;
  b.accepts12 = false;
  b.accepts16 = false;
  return b;
}

ScsiOutcome UsbBridge::Execute(AtaDrive& drive, std::span<const std::uint8_t> cdb,
                               DataDirection direction, std::span<std::uint8_t> data,
                               std::uint32_t timeoutSeconds) const {
  ScsiOutcome out;
  const std::uint8_t opcode = cdb.empty() ? 0 : cdb[0];
  if (!(opcode == kAtaPassThrough12 && behaviour_.accepts12) &&
      !(opcode == kAtaPassThrough16 && behaviour_.accepts16)) {
    out.scsiStatus = kScsiCheckCondition;
    out.sense = FixedSense(scsi::kIllegalRequest, scsi::kAscInvalidOpcode, 0);
    return out;
  }
  SatDecode decoded = DecodeSatCdb(cdb, direction, static_cast<std::uint32_t>(data.size()));
  if (opcode == kAtaPassThrough12 && behaviour_.a1NeedsTwelve && cdb.size() < 12) {
    decoded = InvalidField(0);
  } else if (decoded.command && (cdb[2] & kSatTLengthMask) == kSatTLengthTransfer &&
             !behaviour_.takesTransferLength) {
    decoded = InvalidField(2);
  }
  if (!decoded.command) {
    out.scsiStatus = kScsiCheckCondition;
    out.sense = RejectionSense(decoded.rejection);
    return out;
  }
  const SatCommand& c = *decoded.command;
  if (behaviour_.drops[c.regs.command]) {
    if (c.direction == DataDirection::in) std::fill(data.begin(), data.end(), std::uint8_t{0});
    out.bytesTransferred = c.byteCount;
    return out;
  }
  HostCommand host;
  host.regs = c.regs;
  host.lba48 = c.extend;
  host.direction = c.direction;
  host.data = data.first(c.byteCount);
  host.timeoutSeconds = timeoutSeconds;
  const HostResult r = RunHostCommand(drive, host);
  out.bytesTransferred = r.bytesTransferred;
  if (c.direction == DataDirection::out) {
    out.bytesTransferred -= std::min(out.bytesTransferred, behaviour_.dataOutShortBy);
  }
  if (r.outcome != HostOutcome::completed) {
    out.completed = false;
    out.win32Error =
        r.outcome == HostOutcome::timedOut ? win32::ERROR_SEM_TIMEOUT_ : win32::ERROR_IO_DEVICE_;
    return out;
  }
  // A device fault fails the command as an error does (libata's way).
  if (r.returned.command & (kStatusErr | kStatusDf)) {
    out.scsiStatus = kScsiCheckCondition;
    out.sense = AtaErrorSense(r.returned, c.extend);
  } else if (c.ckCond && behaviour_.honoursCkCond) {
    out.scsiStatus = kScsiCheckCondition;
    out.sense = AtaReturnSense(r.returned, c.extend);
  }
  return out;
}

}  // namespace brisquel::sim
