#include "transport/uSCSI.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "transport/DeviceCall.h"
#include "transport/DeviceIo.h"
#include "transport/RequestRules.h"
#include "transport/SatCdb.h"
#include "transport/SatForms.h"
#include "transport/SenseData.h"

namespace brisquel {

namespace {

// PROTOCOL 3 non-data, 4 PIO data-in, 5 PIO data-out; byte 2 T_DIR | BYT_BLOK |
// T_LENGTH in the count field for data. The 16-byte form's non-data byte 2 is
// T_DIR | BYT_BLOK, and it has EXTEND set, as bridges have always been sent it.
SatFields ScsiSatFields(DataDirection direction, SatForm form) {
  const bool x85 = form == SatForm::x85;
  switch (direction) {
    case DataDirection::in:
      return {SatProtocol::pioIn, kSatTDirFromDevice | kSatBytBlok | kSatTLengthCount, x85};
    case DataDirection::out:
      return {SatProtocol::pioOut, kSatBytBlok | kSatTLengthCount, x85};
    case DataDirection::none:
      break;
  }
  return {SatProtocol::nonData,
          x85 ? std::uint8_t{kSatTDirFromDevice | kSatBytBlok} : kSatTLengthNone, x85};
}

// The previous registers never travel over SCSI.
AtaTaskFile CurrentRegisters(const AtaTaskFile& regs) {
  AtaTaskFile current;
  current.features = regs.features;
  current.count = regs.count;
  current.lbaLow = regs.lbaLow;
  current.lbaMid = regs.lbaMid;
  current.lbaHigh = regs.lbaHigh;
  current.device = regs.device;
  current.command = regs.command;
  return current;
}

// A refused request or a CHECK CONDITION without sense means the command was
// not carried out; the tables would count both as success.
constexpr std::uint8_t kStatusWithoutSense = 34;  // as sense key NO SENSE

// CK_COND on a command that succeeded: RECOVERED ERROR, "ATA pass-through
// information available", and the drive's registers with ERR clear.
bool AnsweredCkCond(const SenseData& d) {
  constexpr std::uint8_t kRecoveredError = 0x01;
  constexpr std::uint8_t kAscqAtaInformation = 0x1D;
  return d.key == kRecoveredError && d.asc == 0 && d.ascq == kAscqAtaInformation && d.ata &&
         !(d.ata->status & kStatusErr);
}

// The transfer byte with what the command asks on top: CK_COND, and the length
// taken from the transfer (T_LENGTH 3, in bytes) in place of the count's.
std::uint8_t AskedTransfer(std::uint8_t transfer, bool ckCond, bool transferLength) {
  if (ckCond) transfer |= kSatCkCond;
  if (transferLength) {
    transfer = static_cast<std::uint8_t>((transfer & ~(kSatTLengthMask | kSatBytBlok)) |
                                         kSatTLengthTransfer);
  }
  return transfer;
}

}  // namespace

std::array<std::uint8_t, 12> SatCdb12(const AtaTaskFile& regs, DataDirection direction) {
  const SatCdb cdb = BuildSatCdb(SatForm::a1Twelve, CurrentRegisters(regs),
                                 ScsiSatFields(direction, SatForm::a1Twelve));
  std::array<std::uint8_t, 12> bytes;
  std::copy_n(cdb.bytes.begin(), bytes.size(), bytes.begin());
  return bytes;
}

std::array<std::uint8_t, 16> SatCdb16(const AtaTaskFile& regs, DataDirection direction) {
  return BuildSatCdb(SatForm::x85, CurrentRegisters(regs), ScsiSatFields(direction, SatForm::x85))
      .bytes;
}

std::uint8_t SenseToResult(std::span<const std::uint8_t> sense) {
  if (sense.size() < 4) return 0;
  const SenseData d = ReadSenseData(sense);
  switch (d.format) {
    case SenseData::Format::none:
      return 0;
    case SenseData::Format::fixed:
      break;
    case SenseData::Format::descriptor:
    case SenseData::Format::other:
      return 29;  // not fixed format
  }
  if (d.key != 0) return static_cast<std::uint8_t>(34 + d.key);
  if (d.flags & kSenseFilemark) return 30;
  if (d.flags & kSenseEom) return 31;
  if (d.flags & kSenseIli) return 32;
  if (d.information[0] & 0x80) return 33;
  return 34;
}

std::uint8_t Win32ErrorToResult(std::uint32_t error) {
  switch (error) {
    case 0:
    case 1:
      return 0;
    case 2:
    case 3:
      return 1;
    case 82:
      return 50;
    case 79:
    case 121:
      return 51;
    case 87:
    case 208:
      return 52;
    case 192:
      return 53;
    case 209:
    case 214:
      return 55;
    case 222:
    case 1117:
      return 56;
    default:
      return kResultOtherError;
  }
}

std::uint8_t ScsiPassThrough(TransportContext& t, OsHandle handle,
                             std::span<const std::uint8_t> cdb, std::uint8_t cdbLength,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, CommandResult* ended,
                             std::uint32_t timeLimit) {
  CommandResult unused;
  CommandResult& end = ended ? *ended : unused;
  if (handle == kInvalidHandle) {
    end = {CommandEnd::systemRefused, win32::ERROR_INVALID_HANDLE_};
    return kResultInvalidHandle;
  }
  end = {CommandEnd::notSent};
  if (direction == DataDirection::none) length = 0;
  // The entries refuse oversized transfers with a log line; this guards direct callers.
  if (length > buffer.size()) return kResultOtherError;

  SatCdb sent;
  sent.length = std::min<std::uint8_t>(cdbLength, 16);
  std::copy_n(cdb.begin(), std::min<std::size_t>(cdb.size(), sent.length), sent.bytes.begin());
  const ScsiRequest request{sent, direction, buffer.first(length), timeLimit};
  const ScsiAnswer answer =
      CallDevice<ScsiAnswer>(t, [&] { return t.io.ScsiPassThrough(handle, request); });
  std::uint8_t result;
  if (answer.delivered) {
    end = {CommandEnd::completed};
    const SenseData returned = ReadSenseData(answer.sense);
    if (answer.scsiStatus == kScsiGood) {
      result = kResultOk;
    } else if (AnsweredCkCond(returned)) {
      result = kResultOk;
      end.returnedCount = returned.ata->count;
    } else {
      result = kResultOtherError;
    }
    if (returned.ata && (returned.ata->status & kStatusDf)) {
      // A device fault, whether the layer answered it as an error or not.
      end = StatusResult(returned.ata->status);
      end.returnedCount = returned.ata->count;
      result = kResultOtherError;
    } else if (result == kResultOk && direction == DataDirection::out &&
               answer.bytesMoved < length) {
      end = ShortTransfer(answer.bytesMoved, length);
      result = kResultOtherError;
    } else if (result != kResultOk) {
      // The sense area as a request block holds it: what came back, then zeros.
      std::array<std::uint8_t, kScsiSenseRoom> area{};
      std::copy_n(answer.sense.begin(), std::min(answer.sense.size(), area.size()), area.begin());
      result = SenseToResult(area);
      if (result == kResultOk) result = kStatusWithoutSense;
      end.end = CommandEnd::deviceError;
      if (const SenseData d = ReadSenseData(area); d.format != SenseData::Format::none) {
        end.sense = SenseSummary{d.key, d.asc, d.ascq};
      }
    }
  } else {
    result = Win32ErrorToResult(answer.systemError);
    if (result == kResultOk) result = kResultOtherError;
    end = {answer.systemError == win32::ERROR_SEM_TIMEOUT_ ? CommandEnd::timedOut
                                                           : CommandEnd::systemRefused,
           answer.systemError};
  }
  t.host.PumpMessages();
  return result;
}

std::uint8_t SendCdb12(TransportContext& t, OsHandle handle, const SatCdb& cdb,
                       std::span<std::uint8_t> buffer, std::uint32_t length,
                       DataDirection direction, CommandResult* ended, std::uint32_t timeLimit) {
  assert(cdb.length == kSatCdb12SentLength || cdb.length == 12);
  return ScsiPassThrough(t, handle, cdb.Sent(), cdb.length, buffer, length, direction, ended,
                         timeLimit);
}

std::uint8_t SendCdb16(TransportContext& t, OsHandle handle, const SatCdb& cdb,
                       std::span<std::uint8_t> buffer, std::uint32_t length,
                       DataDirection direction, CommandResult* ended, std::uint32_t timeLimit) {
  assert(cdb.length == 16);
  return ScsiPassThrough(t, handle, cdb.Sent(), cdb.length, buffer, length, direction, ended,
                         timeLimit);
}

bool SatLengthFromTransfer(const DriveTarget& target, DataDirection direction,
                           const SatAsk& ask) {
  const bool beyondCount = ask.transferLength > kSatCountMaxBlocks * kSectorSize;
  return direction != DataDirection::none &&
         (ask.lengthFromTransfer || (beyondCount && target.takesTransferLength == true));
}

std::uint32_t SatTransferLength(const DriveTarget& target, DataDirection direction,
                                const AtaTaskFile& regs, const SatAsk& ask) {
  if (direction == DataDirection::none) return 0;
  return SatLengthFromTransfer(target, direction, ask) ? ask.transferLength
                                                      : std::uint32_t{regs.count} * kSectorSize;
}

namespace {

CommandResult SatCommand(TransportContext& t, std::span<std::uint8_t> buffer,
                         const AtaTaskFile& regs, DataDirection direction,
                         std::uint32_t timeLimit, const SatAsk& ask) {
  const DriveTarget& target = t.state.DriveTarget;
  const bool ckCond = ask.registersBack && target.ckCondHonoured == true;
  const bool transferLength = SatLengthFromTransfer(target, direction, ask);
  const std::uint32_t length = SatTransferLength(target, direction, regs, ask);
  if (!DataFits(t, regs.command, length, buffer.size())) return {CommandEnd::notSent};

  const SatForm form = TargetSatForm(target);
  SatFields fields = ScsiSatFields(direction, form);
  fields.transfer = AskedTransfer(fields.transfer, ckCond, transferLength);
  const SatCdb cdb = BuildSatCdb(form, CurrentRegisters(regs), fields);
  CommandResult ended;
  // The result code says less than `ended`, which keeps the system's refusal,
  // the drive's sense and an expired time limit apart: the callers act on that.
  const auto send = cdb.length == 16 ? SendCdb16 : SendCdb12;
  send(t, target.scsiHandle, cdb, buffer, length, direction, &ended, timeLimit);
  return ended;
}

}  // namespace

CommandResult SatNonData(TransportContext& t, const AtaTaskFile& regs, std::uint32_t timeLimit,
                         const SatAsk& ask) {
  return SatCommand(t, {}, regs, DataDirection::none, timeLimit, ask);
}

CommandResult SatPioIn(TransportContext& t, std::span<std::uint8_t> buffer, const AtaTaskFile& regs,
                       std::uint32_t timeLimit, const SatAsk& ask) {
  return SatCommand(t, buffer, regs, DataDirection::in, timeLimit, ask);
}

CommandResult SatPioOut(TransportContext& t, std::span<std::uint8_t> buffer,
                        const AtaTaskFile& regs, std::uint32_t timeLimit, const SatAsk& ask) {
  return SatCommand(t, buffer, regs, DataDirection::out, timeLimit, ask);
}

}  // namespace brisquel
