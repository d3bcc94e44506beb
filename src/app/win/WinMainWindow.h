// The Win32 window: a second view over the window logic (TfmMain), in plain
// Win32 calls. Every control sits where the window's design puts it, scaled
// to the DPI of the monitor the window is on; the logic decides everything else.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "app/win/TaskbarProgress.h"
#include "ui/MainView.h"
#include "ui/WindowDesign.h"
#include "ui/WindowPlacement.h"
#include "ui/uMain.h"


namespace brisquel::win {

struct WinMainWindowOptions {
  // The placement file's name as the profile functions take it; "" keeps no placement.
  std::string placementFile;
  // Picks the firmware file; the open-file dialog when not given (tests answer here).
  std::function<std::optional<std::string>()> chooseFile;
  // Answers the yes/no questions; the message box when not given.
  std::function<bool(const std::string&)> askYesNo;
};

class WinMainWindow : public MainView {
 public:
  static constexpr int kItemHeight = 17;
  static constexpr int kDesignDpi = 96;

  WinMainWindow(MainPlatform platform, WinMainWindowOptions options = {});
  ~WinMainWindow() override;
  WinMainWindow(const WinMainWindow&) = delete;
  WinMainWindow& operator=(const WinMainWindow&) = delete;

  // Restores the placement (else centres the window), shows it and fills the list.
  void Show(int showCmd);
  // Runs the message loop until the window is gone; returns the exit code.
  int Run();

  TfmMain& Logic() { return logic_; }
  HWND Handle() const { return fmMain; }
  // The dots per inch of the monitor the window is on. The design's sizes are
  // at 96 and scale by it.
  UINT Dpi() const { return dpi_; }
  int Scaled(int designPixels) const;

  // MainView
  void SetCaption(const std::string& text) override;
  void AppendLogLine(const std::string& text) override;
  void SetListEnabled(bool enabled) override;
  void ClearList() override;
  void AddListLine(const std::string& text) override;
  void SetOperationButtonsEnabled(bool enabled) override;
  int DlmcTypeIndex() override;
  std::optional<std::string> OpenFileDialog() override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void PumpMessages() override;
  bool KeyHeld(Key key) override;
  // The taskbar button shows a download's progress too.
  void ShowProgress(std::optional<int> percent) override;

  // The controls, by their names.
  HWND fmMain = nullptr;
  HWND lbControllers = nullptr;
  HWND spl1 = nullptr;
  HWND meLog = nullptr;
  HWND pnl1 = nullptr;
  HWND rbAPI = nullptr;
  HWND rbPIO = nullptr;
  HWND btBreak = nullptr;
  HWND btIdentify = nullptr;
  HWND cbDlmcType = nullptr;
  HWND btReplace = nullptr;
  HWND btUnlock = nullptr;
  HWND breakTip = nullptr;

 private:
  static LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SplitterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Command(HWND control, int code);
  struct PanelControl {
    HWND control;
    design::Place place;
    bool followsRightEdge;
  };
  std::array<PanelControl, 7> PanelControls() const;
  int Unscaled(int pixels) const;
  ScreenSize ScreenInDesignUnits() const;
  // Fonts, the Break picture and the panel's controls at dpi_.
  void ApplyDpi();
  void ChangeDpi(UINT dpi, const RECT& suggested);
  void Layout();
  void DragSplitter(int clientY);
  void RestorePlacement();
  void SavePlacement();

  WinMainWindowOptions options_;
  TfmMain logic_;
  HFONT windowFont_ = nullptr;
  HFONT listFont_ = nullptr;
  HBITMAP breakPicture_ = nullptr;
  HICON icon_ = nullptr;
  TaskbarProgress taskbar_;
  UINT dpi_ = kDesignDpi;
  int listHeight_ = design::kListHeight;
  int designClientWidth_ = 0;  // the client area's width at the design's size
  bool placementSaved_ = false;
  bool shown_ = false;
  bool apiShown_ = true;  // the mode of the radio button last checked
};

}  // namespace brisquel::win
