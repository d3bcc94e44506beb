#include "ops/VendorChannel.h"

#include <algorithm>

#include "ops/ErrorCodeNames.h"
#include "transport/AtaCommands.h"
#include "transport/Bytes.h"

namespace brisquel {
namespace {

std::span<std::uint8_t> KeyArea(TransportState& s) {
  return std::span(s.SectorBuffer).first(kSectorSize);
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

CommandResult EnableVendorCommands(TransportContext& t) {
  const CommandResult enabled = Dispatch(t, VendorEnableCommand());
  if (enabled.ok() || enabled.EndsTheOperation()) return enabled;
  return Dispatch(t, VendorEnableByLogCommand());
}

CommandResult ReadVendorStatus(TransportContext& t) {
  return Dispatch(t, ReadVendorStatusCommand(KeyArea(t.state)));
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

  KeyReply reply{Dispatch(t, WriteKeySectorCommand(KeyArea(t.state))), std::nullopt};
  if (reply.sent.EndsTheOperation()) return reply;

  reply.status = ReadVendorStatusCodes(t);
  if (!reply.Accepted()) t.state.AtaStatusBits.ERR = true;
  return reply;
}

CommandResult SendVendorPreamble(TransportContext& t) {
  const CommandResult enabled = EnableVendorCommands(t);
  if (enabled.EndsTheOperation()) return enabled;
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
