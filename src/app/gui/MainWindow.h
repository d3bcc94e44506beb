// The Qt view of the main window: the controls, their captions, sizes and
// places, and the toolkit ends of the logic's handlers. Everything the window
// decides is TfmMain's; this class only shows and forwards.
#pragma once

#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/MainView.h"
#include "ui/uMain.h"

class QSocketNotifier;

namespace brisquel::gui {

// The list: a click on a line (mouse) or a move of the current line
// (keyboard) is one selection, also when the line was selected already.
class ControllerList : public QListWidget {
  Q_OBJECT
 public:
  explicit ControllerList(QWidget* parent);
 signals:
  void lineSelected(int row);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The bottom panel: the controls from Break to DLMC keep their distance to
// the right edge, the two radio buttons stay at the left.
class ControlPanel : public QWidget {
  Q_OBJECT
 public:
  explicit ControlPanel(QWidget* parent);
  void AnchorRight(QWidget* control, int designLeft);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Anchored {
    QWidget* control;
    int designLeft;
  };
  std::vector<Anchored> anchored_;
};

struct MainWindowOptions {
  // Where the placement is kept; empty: it is neither restored nor saved.
  std::filesystem::path placementFile;
};

class MainWindow : public QWidget, public MainView {
  Q_OBJECT
 public:
  MainWindow(MainPlatform platform, MainWindowOptions options = {});
  ~MainWindow() override;

  TfmMain& Logic() { return logic_; }
  // The system's device-change notifications: fd becomes readable when some
  // wait, and read returns their event codes.
  void WatchDeviceChanges(int fd, std::function<std::vector<std::uint32_t>()> read);

  // MainView
  void SetCaption(const std::string& text) override;
  void AppendLogLine(const std::string& text) override;
  void SetListEnabled(bool enabled) override;
  void ClearList() override;
  void AddListLine(const std::string& text) override;
  void SetOperationButtonsEnabled(bool enabled) override;
  int DlmcTypeIndex() override;
  std::string DlmcTypeText() override;
  std::optional<std::string> OpenFileDialog() override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void PumpMessages() override;
  bool KeyHeld(Key key) override;

  // The controls, by their names.
  ControllerList* lbControllers;
  QSplitter* spl1;
  QPlainTextEdit* meLog;
  ControlPanel* pnl1;
  QRadioButton* rbAPI;
  QRadioButton* rbPIO;
  QToolButton* btBreak;
  QPushButton* btIdentify;
  QComboBox* cbDlmcType;
  QPushButton* btReplace;
  QPushButton* btUnlock;
  QFileDialog* OpenDialog1;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void RestorePlacement();
  void SavePlacement();

  MainWindowOptions options_;
  TfmMain logic_;
  bool shown_ = false;
  bool placementSaved_ = false;
  QSocketNotifier* deviceNotifier_ = nullptr;
  std::function<std::vector<std::uint32_t>()> readDeviceChanges_;
};

}  // namespace brisquel::gui
