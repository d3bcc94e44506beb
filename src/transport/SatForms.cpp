#include "transport/SatForms.h"

#include "transport/AtaCommands.h"

namespace brisquel {

namespace {

constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;

// The line is kept with what is remembered of the bridge, to be logged again
// when its drive is selected again.
void LogSatForm(TransportContext& t, const std::string& line) {
  t.state.SatFormLine = line;
  t.host.LogLine(line);
}

}  // namespace

SatForm TargetSatForm(const DriveTarget& target) {
  if (target.use16ByteCdb) return SatForm::x85;
  return target.a1WholeCdb ? SatForm::a1Twelve : SatForm::a1Ten;
}

void SetSatForm(DriveTarget& target, SatForm form) {
  target.use16ByteCdb = form == SatForm::x85;
  target.a1WholeCdb = form == SatForm::a1Twelve;
}

const char* SatFormName(SatForm form) {
  switch (form) {
    case SatForm::a1Ten:
      break;
    case SatForm::a1Twelve:
      return "12";
    case SatForm::x85:
      return "16";
  }
  return "12-10";
}

std::optional<SatForm> SatFormNamed(std::string_view name) {
  for (const SatForm form : kSatForms) {
    if (name == SatFormName(form)) return form;
  }
  return std::nullopt;
}

bool RefusesTheForm(const CommandResult& result) {
  if (result.end == CommandEnd::systemRefused) return true;
  return result.end == CommandEnd::deviceError && result.sense &&
         result.sense->key == kSenseIllegalRequest &&
         (result.sense->asc == kAscInvalidOpcode || result.sense->asc == kAscInvalidFieldInCdb);
}

CommandResult FindSatForm(TransportContext& t, std::span<std::uint8_t> sector) {
  DriveTarget& target = t.state.DriveTarget;
  CommandResult last;
  t.state.SatFormLine.clear();
  for (const SatForm form : kSatForms) {
    SetSatForm(target, form);
    last = Dispatch(t, IdentifyCommand(sector));
    if (!RefusesTheForm(last)) {
      target.satFormFound = SatFormFound::answered;
      if (form != kSatForms[0]) {
        LogSatForm(t, std::string("USB bridge answers ATA PASS-THROUGH(") +
                          (form == SatForm::x85 ? "16)" : "12)"));
      }
      return last;
    }
    // A drive the system gave up on leaves the form unknown, as it was.
    if (last.EndsTheOperation()) {
      SetSatForm(target, kSatForms[0]);
      target.satFormFound = SatFormFound::assumed;
      return last;
    }
  }
  // The refusal is said by the command that meets it.
  SetSatForm(target, kSatForms[0]);
  target.satFormFound = SatFormFound::refused;
  return last;
}

void JudgeSatBridge(TransportContext& t, bool transferLength) {
  DriveTarget& target = t.state.DriveTarget;
  if (target.kind != TransportKind::scsiPassThrough) return;
  if (!target.ckCondHonoured) {
    target.ckCondHonoured = true;  // so that this one command goes with CK_COND
    const CommandResult power = Dispatch(t, CheckPowerModeCommand());
    target.ckCondHonoured = power.ok() && power.returnedCount.has_value();
  }
  if (transferLength && !target.takesTransferLength) {
    AtaCommand identify = IdentifyCommand(std::span(t.state.SectorBuffer).first(kSectorSize));
    identify.lengthFromTransfer = true;
    target.takesTransferLength = Dispatch(t, identify).ok();
  }
  RememberSatForm(t.state);
}

void RememberSatForm(TransportState& state) {
  const DriveTarget& target = state.DriveTarget;
  if (target.kind != TransportKind::scsiPassThrough || state.SatTargetPath.empty()) return;
  if (target.satFormFound != SatFormFound::answered && target.satFormFound != SatFormFound::refused)
    return;
  state.SatBridges[state.SatTargetPath] = {TargetSatForm(target), target.satFormFound,
                                           state.SatFormLine, target.ckCondHonoured,
                                           target.takesTransferLength};
}

bool RecallSatForm(TransportContext& t, const std::string& devicePath) {
  const auto known = t.state.SatBridges.find(devicePath);
  if (known == t.state.SatBridges.end()) return false;
  SetSatForm(t.state.DriveTarget, known->second.form);
  t.state.DriveTarget.satFormFound = known->second.found;
  t.state.DriveTarget.ckCondHonoured = known->second.ckCondHonoured;
  t.state.DriveTarget.takesTransferLength = known->second.takesTransferLength;
  t.state.SatFormLine = known->second.line;
  if (!known->second.line.empty()) t.host.LogLine(known->second.line);
  return true;
}

}  // namespace brisquel
