#include "ui/uMain.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "discovery/PciScan.h"
#include "discovery/uSetupApiEnum.h"
#include "ops/DlmcModes.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"
#include "ops/StandardDownload.h"
#include "ui/CaptionTexts.h"
#include "ui/TargetSelection.h"

namespace brisquel {

TfmMain::TfmMain(MainView& view, MainPlatform platform)
    : view_(view), platform_(std::move(platform)) {}

void TfmMain::FormCreate() {
  PortLibrary& ports = platform_.ports;
  libraryReady_ = ports.InitializeOls();
  dllStatus_ = ports.GetDllStatus();
  driverType_ = ports.GetDriverType();
  caption_ = view_.KeyHeld(Key::ctrl)
                 ? DiagnosticCaption(libraryReady_, dllStatus_, driverType_)
                 : NormalCaption(platform_.system.SystemName(),
                                 platform_.system.HasAdministratorRights());
  view_.SetCaption(caption_);
  SetOperationButtonsEnabled(false);
}

void TfmMain::FormShow() {
  if (apiChecked_) {
    FillDriveList();
  } else {
    FillPioList();
  }
}

bool TfmMain::FormCloseQuery() {
  if (busy_ == Busy::none) return true;
  LogLine("The window stays open until the running work ends (Break stops it)");
  return false;
}

void TfmMain::btBreakClick() {
  platform_.state.BreakFlag = true;
}

template <class Work>
bool TfmMain::Guarded(Work&& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    view_.ShowMessage(e.what());
  } catch (...) {
    view_.ShowMessage("Unexpected error");
  }
  return false;
}

template <class Operation>
void TfmMain::RunOperation(Operation&& operation) {
  // Only a double click can get here while something runs: the buttons are
  // disabled then. A second operation inside the first one's message pump
  // would change the target under it.
  if (busy_ != Busy::none) {
    LogLine("Refused: another operation is running");
    return;
  }
  busy_ = Busy::operation;
  platform_.ports.RefreshPortClaims();
  Guarded(operation);
  EndProgress();
  busy_ = Busy::none;
  SetOperationButtonsEnabled(armed_);
  ApplyHeldActions();
}

void TfmMain::btIdentifyClick() {
  RunOperation([this] {
    OperationContext ctx(platform_.state, platform_.ports, platform_.io, *this);
    IdentifyButton(ctx);
  });
}

void TfmMain::btUnlockClick() {
  UpdateRequest request;
  request.mode = DlmcModeOfBox(view_.DlmcTypeIndex(), view_.DlmcTypeText());
  RunUpdateClick(request);
}

void TfmMain::btReplaceClick() {
  UpdateRequest request;
  request.kind = UpdateRequest::Kind::vendor;
  RunUpdateClick(request);
}

void TfmMain::RunUpdateClick(const UpdateRequest& base) {
  RunOperation([this, base] {
    UpdateRequest request = base;
    request.devicePath = targetPath_;
    request.queueBytes = targetQueueBytes_;
    OperationContext ctx(platform_.state, platform_.ports, platform_.io, *this);
    UpdateContext update{ctx, *this, platform_.diskUsers, platform_.clock};
    const UpdateReport report = RunUpdate(update, request);
    if (const std::string line = RevisionLine(report); !line.empty()) LogLine(line);
    if (afterSend_ && report.stage >= UpdateReport::Stage::send) afterSend_();
  });
}

namespace {

std::string Sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] -= 'a' - 'A';
  return text + ".\n";
}

}  // namespace

bool TfmMain::SendAnyway(const std::vector<std::string>& why) {
  std::string text;
  for (const std::string& reason : why) text += Sentence(reason);
  const bool send = view_.AskYesNo(text + "\nSend it anyway?");
  for (const std::string& reason : why) LogLine((send ? "Sent anyway: " : "Refused: ") + reason);
  return send;
}

bool TfmMain::SendToSystemDisk(const std::string& why) {
  const bool send = view_.AskYesNo(Sentence(why) + "\nSend it to the system's disk all the same?");
  LogLine((send ? "Sent anyway: " : "Refused: ") + why);
  return send;
}

void TfmMain::FillPioList() {
  const bool outer = busy_ == Busy::none;
  if (outer) busy_ = Busy::filling;
  view_.SetListEnabled(false);
  ProgramState& state = platform_.state;
  // Without port I/O the scan finds nothing and the list stays empty: say why.
  if (!libraryReady_) LogLine(NoPortIoLine(dllStatus_, platform_.system.HasAdministratorRights()));
  ScanPciControllers({state, state.BreakFlag, platform_.ports, *this, platform_.programDir});
  view_.ClearList();
  heldSelection_.reset();
  const std::size_t count = std::min<std::size_t>(
      {state.PciScanCount, state.PciScanTable.size(), state.ChannelTable.size()});
  for (std::size_t i = 0; i < count; ++i) {
    const PCIDevDesc& entry = state.PciScanTable[i];
    view_.AddListLine(PioLineText(entry));
    state.ChannelTable[i] = ControllerEntry{entry.basePort, entry.controlPort, false};
  }
  listSource_ = ListSource::channels;
  backedLines_ = static_cast<int>(count);
  view_.SetListEnabled(true);
  if (outer) {
    busy_ = Busy::none;
    ApplyHeldActions();
  }
}

void TfmMain::FillDriveList() {
  view_.SetListEnabled(false);
  ProgramState& state = platform_.state;
  const int n = std::clamp(EnumeratePhysicalDrives(platform_.disks, state), 0,
                           static_cast<int>(state.DriveTable.size()));
  if (n > 0) {
    view_.ClearList();
    heldSelection_.reset();
    for (int i = 0; i < n; ++i) view_.AddListLine(state.DriveTable[i].DisplayName);
    listSource_ = ListSource::drives;
  }
  // With nothing found the old lines stay, but the table behind them has just
  // been emptied: none of them stands for a drive any more.
  backedLines_ = n;
  view_.SetListEnabled(true);
}

void TfmMain::lbControllersClick(int index) {
  if (busy_ == Busy::operation) {
    // The target stays fixed while an operation runs; the click takes effect
    // when it ends, unless a mode switch will refill the list first.
    if (!heldModeApi_) heldSelection_ = index;
    return;
  }
  if (busy_ == Busy::filling) return;  // the list is disabled; the lines are being replaced
  if (index < 0) {
    Disarm();
    return;
  }
  // A selection that threw selected nothing.
  if (!Guarded([&] { apiChecked_ ? SelectDrive(index) : SelectChannel(index); })) Disarm();
}

void TfmMain::SelectDrive(int index) {
  ProgramState& state = platform_.state;
  if (listSource_ != ListSource::drives || index >= backedLines_ ||
      static_cast<std::size_t>(index) >= state.DriveTable.size()) {
    LogLine("Selection refused: list line " + std::to_string(index + 1) +
            " stands for no drive (the drive list could not be refreshed)");
    Disarm();
    return;
  }
  const TST_PhysicalDrive& drive = state.DriveTable[static_cast<std::size_t>(index)];
  targetPath_ = drive.DevicePath;
  targetQueueBytes_ = drive.MaxTransferLength;
  TransportContext t{state, platform_.ports, platform_.io, *this};
  const Selected selected = SelectDriveTarget(t, drive);
  if (selected == Selected::refused) {
    Disarm();
    return;
  }
  if (selected == Selected::openFailed) view_.ShowMessage(drive.DisplayName);
  armed_ = true;
  SetOperationButtonsEnabled(true);
}

void TfmMain::SelectChannel(int index) {
  ProgramState& state = platform_.state;
  if (listSource_ != ListSource::channels || index >= backedLines_ ||
      static_cast<std::size_t>(index) >= state.ChannelTable.size()) {
    LogLine("Selection refused: list line " + std::to_string(index + 1) + " stands for no channel");
    Disarm();
    return;
  }
  const ControllerEntry& entry = state.ChannelTable[static_cast<std::size_t>(index)];
  targetPath_.reset();
  targetQueueBytes_ = 0;
  if (SelectChannelTarget(state, platform_.ports, *this, entry.basePort, entry.device1) ==
      Selected::refused) {
    Disarm();
    return;
  }
  armed_ = true;
  SetOperationButtonsEnabled(true);
}

void TfmMain::Disarm() {
  armed_ = false;
  SetOperationButtonsEnabled(false);
}

void TfmMain::lbControllersDblClick() {
  // A double click first selects its line: when that was refused, nothing is
  // armed, and Identify must not run on the target of an earlier line.
  if (armed_ || busy_ != Busy::none) btIdentifyClick();
}

void TfmMain::rbAPIClick() {
  ModeClicked(true);
}

void TfmMain::rbPIOClick() {
  ModeClicked(false);
}

void TfmMain::ModeClicked(bool api) {
  apiChecked_ = api;
  if (busy_ != Busy::none) {
    // Applied when the running work ends; the list will be refilled, so a
    // selection held from the old lines goes.
    heldModeApi_ = api;
    heldSelection_.reset();
    return;
  }
  SwitchMode(api);
}

void TfmMain::SwitchMode(bool api) {
  platform_.state.DriveTarget.kind = api ? TransportKind::ataPassThrough : TransportKind::pio;
  Disarm();
  if (apiChecked_) {
    FillDriveList();
  } else {
    FillPioList();
  }
}

void TfmMain::ApplyHeldActions() {
  if (heldModeApi_) {
    const bool api = *heldModeApi_;
    heldModeApi_.reset();
    heldSelection_.reset();
    SwitchMode(api);
  } else if (heldSelection_) {
    const int index = *heldSelection_;
    heldSelection_.reset();
    lbControllersClick(index);
  }
}

void TfmMain::HandleDeviceChange(std::uint32_t eventCode) {
  if (!apiChecked_) return;
  // During a PCI scan "API" can only be checked by a held mode switch, which
  // refills the drive list when the scan ends.
  if (busy_ != Busy::filling &&
      (eventCode == kDbtDevNodesChanged || eventCode == kDbtDeviceArrival ||
       eventCode == kDbtDeviceRemoveComplete)) {
    FillDriveList();
  }
  Disarm();
}

void TfmMain::PumpMessages() {
  view_.PumpMessages();
}

bool TfmMain::KeyHeld(Key key) {
  return view_.KeyHeld(key);
}

void TfmMain::LogLine(const std::string& text) {
  view_.AppendLogLine(text);
}

std::optional<std::string> TfmMain::OpenFirmwareDialog() {
  return view_.OpenFileDialog();
}

void TfmMain::FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) {
  const int percent =
      toSend == 0 ? 0 : static_cast<int>(std::uint64_t{std::min(sent, toSend)} * 100 / toSend);
  // Sector by sector over PIO: the caption changes only with the figure.
  if (shownPercent_ == percent) return;
  shownPercent_ = percent;
  view_.SetCaption(caption_ + " - " + std::to_string(percent) + "%");
  view_.ShowProgress(percent);
}

void TfmMain::EndProgress() {
  if (!shownPercent_) return;
  shownPercent_.reset();
  view_.SetCaption(caption_);
  view_.ShowProgress(std::nullopt);
}

void TfmMain::SetOperationButtonsEnabled(bool enabled) {
  buttonsEnabled_ = enabled;
  view_.SetOperationButtonsEnabled(enabled);
}

}  // namespace brisquel
