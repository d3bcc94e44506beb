#include "ops/VendorChannel.h"

#include <algorithm>

#include "ops/ErrorCodeNames.h"
#include "transport/Dispatch.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel {
namespace {

constexpr std::uint8_t kDevice = 0xA0;
constexpr std::uint8_t kSmart = 0xB0;
constexpr std::uint8_t kSmartReadLog = 0xD5;
constexpr std::uint8_t kSmartWriteLog = 0xD6;
constexpr std::uint8_t kKeyLog = 0xBE;

// The channel's commands go in 48-bit form over PIO with zero previous bytes.
AtaCommand ChannelCommand(std::uint8_t features, std::uint8_t count, std::uint8_t lbaLow,
                          std::uint8_t lbaMid, std::uint8_t lbaHigh, std::uint8_t command) {
  AtaCommand c;
  c.regs = {.features = features,
            .count = count,
            .lbaLow = lbaLow,
            .lbaMid = lbaMid,
            .lbaHigh = lbaHigh,
            .device = kDevice,
            .command = command};
  c.form = TaskFileForm::lba48;
  return c;
}

// SMART register signature in LBA mid/high.
AtaCommand SmartLogCommand(std::uint8_t features, std::uint8_t count, std::uint8_t log) {
  return ChannelCommand(features, count, log, 0x4F, 0xC2, kSmart);
}

std::span<std::uint8_t> KeyArea(TransportState& s) {
  return std::span(s.SectorBuffer).first(kSectorSize);
}

// One sector to or from log 0xBE in SectorBuffer.
AtaCommand KeyLogSector(TransportState& s, DataDirection direction) {
  const bool out = direction == DataDirection::out;
  AtaCommand c = SmartLogCommand(out ? kSmartWriteLog : kSmartReadLog, 1, kKeyLog);
  c.direction = direction;
  c.buffer = KeyArea(s);
  c.length = kSectorSize;
  c.sectors = 1;
  c.pioData = out ? PioData::writeWords : PioData::readWords;
  return c;
}

}  // namespace

VendorStatus VendorStatus::From(std::span<const std::uint8_t> sector) {
  return {.primaryCode = GetU16(&sector[24]),
          .replyValue = GetU32(&sector[26]),
          .thirdCode = GetU16(&sector[48]),
          .secondCode = GetU16(&sector[406])};
}

void EnableVendorCommands(TransportContext& t) {
  // The three bytes in features, LBA mid and LBA high are the enable signature.
  if (Dispatch(t, ChannelCommand(0x3B, 0, 0, 0x6E, 0x29, 0x80))) return;
  Dispatch(t, SmartLogCommand(kSmartReadLog, 0, 0xBB));
}

void ReadVendorStatus(TransportContext& t) {
  AtaCommand c = KeyLogSector(t.state, DataDirection::in);
  c.pioWaitBeforeCommand = true;
  c.pioDataNeedsNoError = true;
  Dispatch(t, c);
}

std::uint32_t SendKeySector(TransportContext& t, const KeySector& key) {
  std::vector<std::uint8_t>& buffer = t.state.SectorBuffer;
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < key.words.size(); ++i) PutU16(&buffer[2 * i], key.words[i]);

  AtaCommand c = KeyLogSector(t.state, DataDirection::out);
  c.pioDataNeedsNoError = false;  // the drive takes the key sector whatever it said
  Dispatch(t, c);

  ReadVendorStatus(t);
  const VendorStatus status = VendorStatus::From(KeyArea(t.state));
  if (status.primaryCode != 0 && status.primaryCode != 0xFFFF) t.state.AtaStatusBits.ERR = true;
  return status.replyValue;
}

void SendVendorPreamble(TransportContext& t) {
  EnableVendorCommands(t);
  SendKeySector(t, KeySector::Preamble());
}

std::string VendorErrorText(TransportContext& t) {
  ReadVendorStatus(t);
  // Named from a sector the drive never sent (zeros, or the key sector still
  // in the buffer), every such failure would read "SUCCESS".
  if (t.state.AtaStatusBits.ERR) return kNoVendorStatusText;
  const VendorStatus status = VendorStatus::From(KeyArea(t.state));
  std::string text;
  if (status.secondCode != 0) text = " - " + ErrorCodeName(status.secondCode);
  if (status.thirdCode != 0) text += " - " + ErrorCodeName(status.thirdCode);
  return ErrorCodeName(status.primaryCode) + " " + text;
}

}  // namespace brisquel
