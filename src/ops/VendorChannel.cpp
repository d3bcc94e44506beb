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

bool KeyReply::Accepted() const {
  return sent.ok() && status && (status->primaryCode == 0 || status->primaryCode == 0xFFFF);
}

namespace {

// No drive, or the user stopped: nothing more is worth sending.
bool Hopeless(const CommandResult& r) {
  return r.end == CommandEnd::noDevice || r.end == CommandEnd::stopped;
}

}  // namespace

CommandResult EnableVendorCommands(TransportContext& t) {
  // The three bytes in features, LBA mid and LBA high are the enable signature.
  const CommandResult enabled = Dispatch(t, ChannelCommand(0x3B, 0, 0, 0x6E, 0x29, 0x80));
  if (enabled.ok() || Hopeless(enabled)) return enabled;
  return Dispatch(t, SmartLogCommand(kSmartReadLog, 0, 0xBB));
}

CommandResult ReadVendorStatus(TransportContext& t) {
  AtaCommand c = KeyLogSector(t.state, DataDirection::in);
  c.pioWaitBeforeCommand = true;
  c.pioDataNeedsNoError = true;
  return Dispatch(t, c);
}

std::optional<VendorStatus> ReadVendorStatusCodes(TransportContext& t) {
  // Named from a sector the drive never sent (zeros, or the key sector still
  // in the buffer), every such failure would read as success.
  if (!ReadVendorStatus(t)) return std::nullopt;
  return VendorStatus::From(KeyArea(t.state));
}

KeyReply SendKeySector(TransportContext& t, const KeySector& key) {
  std::vector<std::uint8_t>& buffer = t.state.SectorBuffer;
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < key.words.size(); ++i) PutU16(&buffer[2 * i], key.words[i]);

  AtaCommand c = KeyLogSector(t.state, DataDirection::out);
  c.pioDataNeedsNoError = false;  // the drive takes the key sector whatever it said
  KeyReply reply{Dispatch(t, c), std::nullopt};
  if (Hopeless(reply.sent)) return reply;

  reply.status = ReadVendorStatusCodes(t);
  if (!reply.Accepted()) t.state.AtaStatusBits.ERR = true;
  return reply;
}

CommandResult SendVendorPreamble(TransportContext& t) {
  const CommandResult enabled = EnableVendorCommands(t);
  if (Hopeless(enabled)) return enabled;
  return SendKeySector(t, KeySector::Preamble()).sent;
}

std::string VendorErrorText(TransportContext& t) {
  const std::optional<VendorStatus> status = ReadVendorStatusCodes(t);
  return status ? VendorStatusText(*status) : kNoVendorStatusText;
}

std::string VendorStatusText(const VendorStatus& status) {
  std::string text;
  if (status.secondCode != 0) text = " - " + ErrorCodeName(status.secondCode);
  if (status.thirdCode != 0) text += " - " + ErrorCodeName(status.thirdCode);
  return ErrorCodeName(status.primaryCode) + " " + text;
}

}  // namespace brisquel
