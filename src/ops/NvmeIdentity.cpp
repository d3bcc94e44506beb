#include "ops/NvmeIdentity.h"

#include <algorithm>

#include "ops/CommandFailure.h"
#include "transport/Bytes.h"
#include "transport/NvmeCommands.h"

namespace brisquel {
namespace {

// ASCII, space padded; what cannot be shown goes as in ATA names.
std::string Text(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) text += PrintableChar(b);
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return SanitizeName(first < last ? std::string(first, last) : std::string());
}

template <std::size_t N>
IdentifyValidity Validity(std::span<const std::uint8_t, N> data) {
  const auto all = [&](std::uint8_t b) {
    return std::all_of(data.begin(), data.end(), [b](std::uint8_t x) { return x == b; });
  };
  if (all(0x00)) return IdentifyValidity::allZeros;
  if (all(0xFF)) return IdentifyValidity::allOnes;
  return IdentifyValidity::valid;
}

}  // namespace

NvmeControllerFacts ControllerFactsOf(std::span<const std::uint8_t, kNvmeIdentifyBytes> d) {
  NvmeControllerFacts f;
  f.serial = Text(d.subspan(kNvmeIdSerial, kNvmeIdSerialBytes));
  f.model = Text(d.subspan(kNvmeIdModel, kNvmeIdModelBytes));
  f.firmware = Text(d.subspan(kNvmeIdFirmware, kNvmeIdFirmwareBytes));
  f.mdts = d[kNvmeIdMdts];
  const std::uint16_t oacs = static_cast<std::uint16_t>(d[kNvmeIdOacs] | d[kNvmeIdOacs + 1] << 8);
  f.firmwareCommands = (oacs & kNvmeOacsFirmware) != 0;
  const std::uint8_t frmw = d[kNvmeIdFrmw];
  f.slot1ReadOnly = (frmw & kNvmeFrmwSlot1ReadOnly) != 0;
  f.slotCount = (frmw >> kNvmeFrmwSlotsShift) & 7;
  f.activateWithoutReset = (frmw & kNvmeFrmwActivateWithoutReset) != 0;
  f.mtfa = static_cast<std::uint16_t>(d[kNvmeIdMtfa] | d[kNvmeIdMtfa + 1] << 8);
  f.fwug = d[kNvmeIdFwug];
  return f;
}

NvmeSlotLog SlotLogOf(std::span<const std::uint8_t, kNvmeFirmwareSlotLogBytes> d) {
  NvmeSlotLog log;
  log.activeSlot = d[0] & 7;
  log.nextSlot = (d[0] >> 4) & 7;
  for (std::size_t i = 0; i < log.revisions.size(); ++i) {
    log.revisions[i] = Text(d.subspan(kNvmeSlotLogFirstRevision + 8 * i, 8));
  }
  return log;
}

IdentifyOutcome ReadNvmeIdentity(TransportContext& t) {
  const auto data = std::span(t.state.TransferBuffer).first<kNvmeIdentifyBytes>();
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  const NvmeCommandOutcome sent = SendNvmeAdmin(t, IdentifyControllerRequest(data));
  IdentifyOutcome outcome;
  outcome.nvme = true;
  outcome.command = sent.result;
  outcome.failure = FailureWords(sent.result, t);
  if (!sent.result) return outcome;
  outcome.validity = Validity<kNvmeIdentifyBytes>(data);
  if (outcome.validity != IdentifyValidity::valid) return outcome;
  const NvmeControllerFacts facts = ControllerFactsOf(data);
  outcome.model = facts.model;
  outcome.firmware = facts.firmware;
  outcome.serial = facts.serial;
  return outcome;
}

NvmeInfo ReadNvmeInfo(TransportContext& t) {
  NvmeInfo info;
  info.identity = ReadNvmeIdentity(t);
  if (!info.identity.Answered()) return info;
  info.controller = ControllerFactsOf(std::span(t.state.TransferBuffer).first<kNvmeIdentifyBytes>());
  if (t.state.BreakFlag) return info;
  const auto log = std::span(t.state.TransferBuffer).first<kNvmeFirmwareSlotLogBytes>();
  std::fill(log.begin(), log.end(), std::uint8_t{0});
  const NvmeCommandOutcome sent = SendNvmeAdmin(t, FirmwareSlotLogRequest(log));
  info.logCommand = sent.result;
  info.logFailure = FailureWords(sent.result, t);
  if (sent.result) info.slots = SlotLogOf(log);
  return info;
}

std::string MdtsText(std::uint8_t mdts) {
  if (mdts == 0) return "no limit";
  if (mdts > 20) return std::to_string(mdts) + " (2^" + std::to_string(mdts) + " pages)";
  const std::uint32_t pages = 1u << mdts;
  return std::to_string(pages) + " pages (" + std::to_string(pages * 4) +
         " KiB with 4 KiB pages)";
}

std::string FwugText(std::uint8_t fwug) {
  if (fwug == 0) return "not stated";
  if (fwug == kNvmeFwugAny) return "any size";
  return std::to_string(4u * fwug) + " KiB";
}

std::string MtfaText(std::uint16_t mtfa) {
  return mtfa == 0 ? std::string("not stated") : std::to_string(100u * mtfa) + " ms";
}

std::string NvmeVendorRefusal() {
  return "the vendor download and unlock are ATA commands for SATA drives; an NVMe drive takes "
         "neither";
}

}  // namespace brisquel
