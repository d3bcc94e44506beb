// The main window's logic: start-up, the log, Break, the operation buttons, the
// controller list in its two access modes and the selection of the target.
// Toolkit-neutral: it drives a MainView, and the view calls its handlers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "discovery/DiskEnumerator.h"
#include "hw/uWinRing0.h"
#include "ops/DiskUsers.h"
#include "ops/DownloadCheck.h"
#include "ops/OperationHost.h"
#include "ops/UpdateProcedure.h"
#include "transport/DeviceIo.h"
#include "ui/MainView.h"
#include "ui/ProgramState.h"
#include "ui/SystemInfo.h"

namespace brisquel {

// What the window works on, plugged in by main (or a test).
struct MainPlatform {
  ProgramState& state;
  PortLibrary& ports;
  DeviceIo& io;
  DiskEnumerator& disks;
  SystemInfo& system;
  std::filesystem::path programDir;  // where the PCI name files are looked for
  DiskUsers& diskUsers;
  RetryClock& clock;  // the wait for the drive after a download
};

// Device-change event codes that refill the drive list.
inline constexpr std::uint32_t kDbtDevNodesChanged = 0x0007;
inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;

class TfmMain : public OperationHost, private UpdateQuestions {
 public:
  TfmMain(MainView& view, MainPlatform platform);

  // Start-up: the driver library is initialised once and the caption set
  // (the diagnostic one while Ctrl is held).
  void FormCreate();
  // The first show, after the placement has been restored: fills the list.
  void FormShow();
  // May the window close now? Not while an operation or a scan runs: the
  // process would go on in the background, and stopping a firmware download
  // is the user's call (Break), not a side effect of closing.
  bool FormCloseQuery();

  void btBreakClick();
  void btIdentifyClick();
  void btUnlockClick();
  void btReplaceClick();

  void FillPioList();
  void FillDriveList();

  // index: the selected line, -1 when none is.
  void lbControllersClick(int index);
  void lbControllersDblClick();
  void rbAPIClick();
  void rbPIOClick();
  void HandleDeviceChange(std::uint32_t eventCode);

  // Called after each download or activation that sent anything (the bench
  // then writes down what its drives hold).
  void SetAfterSend(std::function<void()> afterSend) { afterSend_ = std::move(afterSend); }

  bool ApiChecked() const { return apiChecked_; }
  // A target is selected and the operations may run on it.
  bool TargetArmed() const { return armed_; }
  bool OperationButtonsEnabled() const { return buttonsEnabled_; }
  bool OperationRunning() const { return busy_ == Busy::operation; }

  // OperationHost
  void PumpMessages() override;
  bool KeyHeld(Key key) override;
  void LogLine(const std::string& text) override;
  std::optional<std::string> OpenFirmwareDialog() override;
  void SetOperationButtonsEnabled(bool enabled) override;
  // The caption gains " - 45%" while a download runs.
  void FirmwareProgress(std::uint32_t sent, std::uint32_t toSend) override;

 private:
  // UpdateQuestions: a check refused; the user decides.
  bool SendAnyway(const std::vector<std::string>& why) override;
  bool SendToSystemDisk(const std::string& why) override;
  void RunUpdateClick(const UpdateRequest& request);

  enum class Busy { none, operation, filling };
  enum class ListSource { none, drives, channels };

  template <class Operation>
  void RunOperation(Operation&& operation);
  // Runs `work`; what it throws (a recording the run does not follow, say) is
  // said in a message box and the window goes on. False when it threw.
  template <class Work>
  bool Guarded(Work&& work);
  void ModeClicked(bool api);
  void SwitchMode(bool api);
  void ApplyHeldActions();
  void SelectDrive(int index);
  void SelectChannel(int index);
  void Disarm();
  void EndProgress();

  MainView& view_;
  MainPlatform platform_;
  std::function<void()> afterSend_;

  std::string caption_;                // as set at start-up
  std::optional<int> shownPercent_;  // in the caption while a download runs
  bool libraryReady_ = false;
  std::int32_t dllStatus_ = 0;
  std::int32_t driverType_ = 0;

  bool apiChecked_ = true;
  bool buttonsEnabled_ = false;
  // Set by a selection that went through, cleared by one that was refused and
  // by anything that makes the list's lines stand for other targets.
  bool armed_ = false;
  Busy busy_ = Busy::none;
  // The drive list's line behind the target (none for a channel): what the
  // checks before a download ask about.
  std::optional<std::string> targetPath_;
  std::uint32_t targetQueueBytes_ = 0;

  // What the list's lines stand for: its source, and how many leading lines
  // have a record behind them in the current tables.
  ListSource listSource_ = ListSource::none;
  int backedLines_ = 0;

  // Clicks that would change the target while an operation runs (or a mode
  // switch while a list is being filled) wait here until it ends.
  std::optional<int> heldSelection_;
  std::optional<bool> heldModeApi_;
};

}  // namespace brisquel
