#include "app/gui/MainWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/gui/Pictures.h"
#include "app/gui/PlacementFile.h"
#include "ops/DlmcModes.h"
#include "ui/WindowDesign.h"
#include "ui/WindowPlacement.h"

namespace brisquel::gui {
namespace {

constexpr int kItemHeight = 17;

QRect Rect(const design::Place& place) {
  return QRect(place.left, place.top, place.width, place.height);
}

// Every line of the list is 17 px high, whatever the font's own height.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(kItemHeight);
    return size;
  }
};

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QFileDialog* NewOpenDialog(QWidget* parent) {
  auto* dialog = new QFileDialog(parent);
  dialog->setObjectName("OpenDialog1");
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  return dialog;
}

}  // namespace

ControllerList::ControllerList(QWidget* parent) : QListWidget(parent) {
  setObjectName("lbControllers");
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setItemDelegate(new FixedHeightDelegate(this));
  // Monospaced, so the port columns of the PIO lines line up.
  QFont listFont(QStringLiteral("Courier New"));
  listFont.setStyleHint(QFont::TypeWriter);
  listFont.setFixedPitch(true);
  listFont.setPixelSize(15);
  setFont(listFont);
  connect(this, &QListWidget::clicked, this,
          [this](const QModelIndex& index) { emit lineSelected(index.row()); });
}

void ControllerList::keyPressEvent(QKeyEvent* event) {
  const int before = currentRow();
  QListWidget::keyPressEvent(event);
  if (currentRow() != before) emit lineSelected(selectedItems().isEmpty() ? -1 : currentRow());
}

ControlPanel::ControlPanel(QWidget* parent) : QWidget(parent) {}

void ControlPanel::AnchorRight(QWidget* control, int designLeft) {
  anchored_.push_back({control, designLeft});
  control->move(designLeft + width() - design::kWidth, control->y());
}

void ControlPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (const Anchored& a : anchored_) {
    a.control->move(a.designLeft + width() - design::kWidth, a.control->y());
  }
}

MainWindow::MainWindow(MainPlatform platform, MainWindowOptions options)
    : options_(std::move(options)), logic_(*this, std::move(platform)) {
  setObjectName("fmMain");
  setWindowIcon(ApplicationIcon());
  QFont windowFont(QStringLiteral("Tahoma"));
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPixelSize(14);
  setFont(windowFont);
  BuildControls();
  setMinimumSize(design::kWidth, design::kHeight);
  resize(design::kWidth, design::kHeight);
  logic_.FormCreate();
}

MainWindow::~MainWindow() {
  if (!placementSaved_) SavePlacement();
}

void MainWindow::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  spl1 = new QSplitter(Qt::Vertical, this);
  spl1->setObjectName("spl1");
  spl1->setHandleWidth(design::kSplitterHeight);
  spl1->setChildrenCollapsible(false);
  lbControllers = new ControllerList(spl1);
  lbControllers->setMinimumHeight(design::kListMinHeight);
  meLog = new QPlainTextEdit(spl1);
  meLog->setObjectName("meLog");
  meLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  meLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  meLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  meLog->setTabChangesFocus(true);
  // The selection stays visible when the log has no focus.
  QPalette logPalette = meLog->palette();
  logPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                      logPalette.color(QPalette::Active, QPalette::Highlight));
  logPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                      logPalette.color(QPalette::Active, QPalette::HighlightedText));
  meLog->setPalette(logPalette);
  spl1->addWidget(lbControllers);
  spl1->addWidget(meLog);
  spl1->setStretchFactor(0, 0);
  spl1->setStretchFactor(1, 1);
  spl1->setSizes({design::kListHeight, design::kHeight - design::kListHeight -
                                           design::kSplitterHeight - design::kPanelHeight});
  layout->addWidget(spl1, 1);

  pnl1 = new ControlPanel(this);
  pnl1->setObjectName("pnl1");
  pnl1->setFixedHeight(design::kPanelHeight);
  pnl1->resize(design::kWidth, design::kPanelHeight);
  layout->addWidget(pnl1);

  rbAPI = new QRadioButton(QStringLiteral("API"), pnl1);
  rbAPI->setObjectName("rbAPI");
  rbAPI->setGeometry(Rect(design::kApi));
  rbAPI->setChecked(true);
  rbPIO = new QRadioButton(QStringLiteral("PIO"), pnl1);
  rbPIO->setObjectName("rbPIO");
  rbPIO->setGeometry(Rect(design::kPio));

  btBreak = new QToolButton(pnl1);
  btBreak->setObjectName("btBreak");
  btBreak->setGeometry(Rect(design::kBreak));
  btBreak->setIcon(QIcon(BreakPicture()));
  btBreak->setIconSize(QSize(16, 16));
  btBreak->setToolTip(QStringLiteral("Break"));
  btBreak->setFocusPolicy(Qt::StrongFocus);

  btIdentify = new QPushButton(QStringLiteral("Identify"), pnl1);
  btIdentify->setObjectName("btIdentify");
  btIdentify->setGeometry(Rect(design::kIdentify));

  cbDlmcType = new QComboBox(pnl1);
  cbDlmcType->setObjectName("cbDlmcType");
  cbDlmcType->setEditable(true);
  cbDlmcType->setInsertPolicy(QComboBox::NoInsert);
  for (const DlmcMode& mode : kDlmcModeTable) {
    cbDlmcType->addItem(
        QString::fromLatin1(mode.boxText.data(), static_cast<qsizetype>(mode.boxText.size())));
  }
  cbDlmcType->setCurrentIndex(kDlmcDefaultIndex);
  cbDlmcType->setGeometry(Rect(design::kDlmcType));

  btReplace = new QPushButton(QStringLiteral("WD DPTM"), pnl1);
  btReplace->setObjectName("btReplace");
  btReplace->setGeometry(Rect(design::kReplace));

  btUnlock = new QPushButton(QStringLiteral("DLMC"), pnl1);
  btUnlock->setObjectName("btUnlock");
  btUnlock->setGeometry(Rect(design::kUnlock));

  for (QWidget* control : {static_cast<QWidget*>(btBreak), static_cast<QWidget*>(btIdentify),
                           static_cast<QWidget*>(cbDlmcType), static_cast<QWidget*>(btReplace),
                           static_cast<QWidget*>(btUnlock)}) {
    pnl1->AnchorRight(control, control->x());
  }

  QWidget::setTabOrder(lbControllers, meLog);
  QWidget::setTabOrder(meLog, btIdentify);
  QWidget::setTabOrder(btIdentify, btUnlock);
  QWidget::setTabOrder(btUnlock, btReplace);
  QWidget::setTabOrder(btReplace, rbAPI);
  QWidget::setTabOrder(rbAPI, rbPIO);
  QWidget::setTabOrder(rbPIO, cbDlmcType);
  QWidget::setTabOrder(cbDlmcType, btBreak);

  OpenDialog1 = NewOpenDialog(this);

  connect(lbControllers, &ControllerList::lineSelected, this,
          [this](int row) { logic_.lbControllersClick(row); });
  connect(lbControllers, &QListWidget::doubleClicked, this,
          [this] { logic_.lbControllersDblClick(); });
  connect(rbAPI, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) logic_.rbAPIClick();
  });
  connect(rbPIO, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) logic_.rbPIOClick();
  });
  connect(btBreak, &QToolButton::clicked, this, [this] { logic_.btBreakClick(); });
  connect(btIdentify, &QPushButton::clicked, this, [this] { logic_.btIdentifyClick(); });
  connect(btUnlock, &QPushButton::clicked, this, [this] { logic_.btUnlockClick(); });
  connect(btReplace, &QPushButton::clicked, this, [this] { logic_.btReplaceClick(); });
}

void MainWindow::WatchDeviceChanges(int fd, std::function<std::vector<std::uint32_t>()> read) {
  if (fd < 0 || !read) return;
  readDeviceChanges_ = std::move(read);
  deviceNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(deviceNotifier_, &QSocketNotifier::activated, this, [this] {
    for (std::uint32_t code : readDeviceChanges_()) logic_.HandleDeviceChange(code);
  });
}

void MainWindow::SetCaption(const std::string& text) {
  setWindowTitle(FromUtf8(text));
}

void MainWindow::AppendLogLine(const std::string& text) {
  meLog->appendPlainText(FromUtf8(text));
  meLog->verticalScrollBar()->setValue(meLog->verticalScrollBar()->maximum());
}

void MainWindow::SetListEnabled(bool enabled) {
  lbControllers->setEnabled(enabled);
}

void MainWindow::ClearList() {
  lbControllers->clear();
}

void MainWindow::AddListLine(const std::string& text) {
  lbControllers->addItem(FromUtf8(text));
}

void MainWindow::SetOperationButtonsEnabled(bool enabled) {
  btIdentify->setEnabled(enabled);
  btUnlock->setEnabled(enabled);
  btReplace->setEnabled(enabled);
}

int MainWindow::DlmcTypeIndex() { return cbDlmcType->currentIndex(); }

std::string MainWindow::DlmcTypeText() { return cbDlmcType->currentText().toStdString(); }

std::optional<std::string> MainWindow::OpenFileDialog() {
  // A dialog keeps its last file name, and selectFile("") does not clear it:
  // a fresh one each time, in the folder of the last, so Enter can never send
  // the previous file again.
  const QString folder = OpenDialog1->directory().absolutePath();
  delete OpenDialog1;
  OpenDialog1 = NewOpenDialog(this);
  OpenDialog1->setDirectory(folder);
  const int answer = OpenDialog1->exec();
  // A path typed into the name box and accepted with Enter left its completion
  // list open over the log, and a folder read in the background could open it
  // again: the list goes with the dialog.
  for (QLineEdit* box : OpenDialog1->findChildren<QLineEdit*>()) {
    if (!box->completer()) continue;
    box->completer()->popup()->hide();
    box->setCompleter(nullptr);
  }
  if (answer != QDialog::Accepted) return std::nullopt;
  const QStringList files = OpenDialog1->selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QFile::encodeName(files.front()).toStdString();
}

void MainWindow::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brisquel"), FromUtf8(text), QMessageBox::Ok,
                  this);
  box.exec();
}

bool MainWindow::AskYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Brisquel"), FromUtf8(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::PumpMessages() {
  QCoreApplication::processEvents();
}

bool MainWindow::KeyHeld(Key key) {
  const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
  return held.testFlag(key == Key::ctrl ? Qt::ControlModifier : Qt::ShiftModifier);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  RestorePlacement();
  logic_.FormShow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!logic_.FormCloseQuery()) {
    event->ignore();
    return;
  }
  SavePlacement();
  event->accept();
}

void MainWindow::RestorePlacement() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  std::optional<WindowPlacementValues> placement;
  if (!options_.placementFile.empty() && screen) {
    if (auto text = ReadPlacementFile(options_.placementFile)) {
      placement = ReadPlacement(*text, {screen->size().width(), screen->size().height()});
    }
  }
  if (placement) {
    const PlacementRect& r = placement->normPos;
    const QRect saved(r[0], r[1], r[2] - r[0], r[3] - r[1]);
    const QRect wanted(saved.topLeft(), saved.size().expandedTo(minimumSize()));
    // A place on a screen that is gone now is not restored; the size is.
    bool onScreen = false;
    for (QScreen* s : QGuiApplication::screens())
      onScreen |= s->availableGeometry().intersects(wanted);
    if (onScreen) {
      setGeometry(wanted);
      if (placement->showCmd == kShowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
      return;
    }
    resize(wanted.size());
  }
  if (screen) {
    const QSize outer = frameGeometry().size();
    move(screen->availableGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
  }
}

void MainWindow::SavePlacement() {
  if (options_.placementFile.empty() || !shown_) return;
  placementSaved_ = true;
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const auto text = ReadPlacementFile(options_.placementFile);
  if (!text) return;  // unreadable or oversized: leave it as it is
  WindowPlacementValues values;
  // The window's own area (without the frame the window manager adds), so
  // that what is saved is what a restore sets.
  const QRect r =
      (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
          ? normalGeometry()
          : geometry();
  values.normPos = {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
  values.showCmd = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
  values.pixelsPerInch = logicalDpiY();
  values.visible = isVisible();
  const auto out = WritePlacement(*text, values, {screen->size().width(), screen->size().height()});
  if (out) WritePlacementFile(options_.placementFile, *out);
}

}  // namespace brisquel::gui
