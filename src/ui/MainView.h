// What the window logic (TfmMain) needs from a toolkit: the window's controls
// as the logic drives them. The Qt window, the Win32 window and the tests'
// fake each implement it; the logic never touches a widget itself.
#pragma once

#include <optional>
#include <string>

#include "transport/UiHost.h"

namespace brisquel {

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void SetCaption(const std::string& text) = 0;

  // The log (meLog): append one line at the end and bring it into view.
  virtual void AppendLogLine(const std::string& text) = 0;

  // The list (lbControllers). Clearing it leaves nothing selected.
  virtual void SetListEnabled(bool enabled) = 0;
  virtual void ClearList() = 0;
  virtual void AddListLine(const std::string& text) = 0;

  // Identify, DLMC and WD DPTM together.
  virtual void SetOperationButtonsEnabled(bool enabled) = 0;

  // The DLMC mode combo box: its current item's index (-1 for none) and the
  // text it shows, which the user may have typed over; DlmcModeOfBox decides.
  virtual int DlmcTypeIndex() = 0;
  virtual std::string DlmcTypeText() = 0;

  // The file-open dialog (OpenDialog1), with no file name and no filter.
  virtual std::optional<std::string> OpenFileDialog() = 0;

  // The one message box: this text, title "Brisquel", one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A question: this text, title "Brisquel", Yes and No with No the default.
  virtual bool AskYesNo(const std::string& text) = 0;

  // A download's progress in percent while it runs, none once it has ended.
  // The logic shows it in the caption; a view may show it where its system
  // shows progress too (the taskbar button).
  virtual void ShowProgress(std::optional<int> percent) { (void)percent; }

  // Process pending window messages once (clicks on Break arrive here).
  virtual void PumpMessages() = 0;
  virtual bool KeyHeld(Key key) = 0;
};

}  // namespace brisquel
