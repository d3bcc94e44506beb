// Click-through tests of the Qt window on the simulated bench.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/BenchState.h"
#include "app/gui/AppPlatform.h"
#include "app/gui/MainWindow.h"
#include "app/gui/PlacementFile.h"
#include "sim/Bench.h"

namespace brisquel::gui {
namespace {

class FixedSystem : public SystemInfo {
 public:
  std::string SystemName() override { return "Linux 6.1.0-test x64"; }
  bool HasAdministratorRights() override { return true; }
};

struct ShownWindow {
  explicit ShownWindow(std::unique_ptr<sim::Bench> b = sim::Bench::Default(),
                       std::filesystem::path placement = {})
      : bench(std::move(b)),
        window(MainPlatform{state, bench->Ports(), bench->Io(), bench->Disks(), system, {}, bench->Users(), bench->Clock()},
               {std::move(placement)}) {
    window.show();
    QApplication::processEvents();
  }

  QStringList Log() const { return window.meLog->toPlainText().split(QLatin1Char('\n')); }
  QPoint LinePoint(int row) const {
    return window.lbControllers->visualItemRect(window.lbControllers->item(row)).center();
  }
  void ClickLine(int row) {
    QTest::mouseClick(window.lbControllers->viewport(), Qt::LeftButton, {}, LinePoint(row));
  }

  std::unique_ptr<sim::Bench> bench;
  ProgramState state;
  FixedSystem system;
  MainWindow window;
};

// Runs `action` on the next modal dialog, from inside that dialog's event loop.
void OnNextModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

void ChooseFile(const std::string& path, QString* offered = nullptr) {
  OnNextModal([path, offered](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    // Typed into the file name box, as a user would (selectFile leaves a
    // focused box alone).
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    if (offered) *offered = name->text() + dialog->selectedFiles().value(0);
    name->setText(QString::fromStdString(path));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own checks run
  });
}

// A firmware image the bench's drives take, announcing revision NEWFW1. Each
// test has a folder of its own: tests run side by side, and one removing a
// shared file left the other's dialog on a "file not found" box for ever.
std::string FirmwareFile() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() /
                   (std::string("brisquel-gui-") + test->test_suite_name() + "-" + test->name());
  std::filesystem::create_directories(dir);
  const auto path = dir / "brisquel-gui-fw.bin";
  const std::vector<std::uint8_t> image = sim::MakeBenchFirmware("NEWFW1", 5);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return path.string();
}

TEST(Window, ControlsStandWhereTheDesignPutsThem) {
  ShownWindow s;
  MainWindow& w = s.window;
  EXPECT_EQ(w.windowTitle(), "Brisquel - Linux 6.1.0-test x64");
  EXPECT_FALSE(w.windowIcon().isNull());
  EXPECT_EQ(w.minimumSize(), QSize(625, 400));
  EXPECT_EQ(w.size(), QSize(625, 400));

  EXPECT_EQ(w.lbControllers->geometry(), QRect(0, 0, 625, 166));
  EXPECT_EQ(w.spl1->handleWidth(), 3);
  EXPECT_EQ(w.spl1->handle(1)->cursor().shape(), Qt::SplitVCursor);
  EXPECT_EQ(w.meLog->mapTo(&w, QPoint(0, 0)).y(), 169);
  EXPECT_EQ(w.pnl1->geometry(), QRect(0, 362, 625, 38));

  struct Place {
    QWidget* control;
    QRect rect;
  };
  const std::vector<Place> places = {
      {w.rbAPI, {9, 11, 48, 17}},        {w.rbPIO, {57, 11, 51, 17}},
      {w.btBreak, {112, 6, 25, 25}},     {w.btIdentify, {149, 6, 75, 25}},
      {w.cbDlmcType, {232, 6, 194, 25}}, {w.btReplace, {435, 6, 75, 25}},
      {w.btUnlock, {523, 6, 75, 25}},
  };
  for (const Place& p : places)
    EXPECT_EQ(p.control->geometry(), p.rect) << p.control->objectName().toStdString();

  EXPECT_EQ(w.rbAPI->text(), "API");
  EXPECT_TRUE(w.rbAPI->isChecked());
  EXPECT_EQ(w.rbPIO->text(), "PIO");
  EXPECT_EQ(w.btIdentify->text(), "Identify");
  EXPECT_EQ(w.btReplace->text(), "WD DPTM");
  EXPECT_EQ(w.btUnlock->text(), "DLMC");
  for (QWidget* b : {static_cast<QWidget*>(w.btIdentify), static_cast<QWidget*>(w.btReplace),
                     static_cast<QWidget*>(w.btUnlock)}) {
    EXPECT_FALSE(b->isEnabled());
  }
  EXPECT_TRUE(w.btBreak->isEnabled());
  EXPECT_EQ(w.btBreak->toolTip(), "Break");
  EXPECT_TRUE(w.btBreak->text().isEmpty());
  EXPECT_FALSE(w.btBreak->icon().isNull());

  EXPECT_TRUE(w.cbDlmcType->isEditable());
  QStringList items;
  for (int i = 0; i < w.cbDlmcType->count(); ++i) items << w.cbDlmcType->itemText(i);
  EXPECT_EQ(items, (QStringList{"Temporary (01)", "Segmented (03)", "Permanent (07)",
                                "Deferred (0E)", "Activate Deferred (0F)"}));
  EXPECT_EQ(w.cbDlmcType->currentIndex(), 2);
  EXPECT_EQ(w.cbDlmcType->currentText(), "Permanent (07)");
  EXPECT_EQ(w.DlmcTypeText(), "Permanent (07)");
  w.cbDlmcType->setEditText("Permanent (7)");
  EXPECT_EQ(w.DlmcTypeIndex(), 2);
  EXPECT_EQ(w.DlmcTypeText(), "Permanent (7)") << "the typed text, for the rule to see";
  w.cbDlmcType->setEditText("Permanent (07)");

  EXPECT_TRUE(QFontInfo(w.lbControllers->font()).fixedPitch());
  EXPECT_EQ(w.lbControllers->font().pixelSize(), 15);
  ASSERT_GT(w.lbControllers->count(), 0);
  EXPECT_EQ(w.lbControllers->visualItemRect(w.lbControllers->item(0)).height(), 17);
  EXPECT_EQ(w.meLog->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(w.meLog->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(w.meLog->isReadOnly());

  // Wider and taller: the five right-hand controls follow the right edge, the
  // radio buttons stay, the log takes the height.
  w.resize(825, 500);
  QApplication::processEvents();
  for (const Place& p : places) {
    const bool anchored = p.control != w.rbAPI && p.control != w.rbPIO;
    EXPECT_EQ(p.control->geometry(), p.rect.translated(anchored ? 200 : 0, 0))
        << p.control->objectName().toStdString();
  }
  EXPECT_EQ(w.lbControllers->geometry(), QRect(0, 0, 825, 166));
  EXPECT_EQ(w.pnl1->geometry(), QRect(0, 462, 825, 38));

  w.resize(300, 200);
  QApplication::processEvents();
  EXPECT_EQ(w.size(), QSize(625, 400)) << "the minimum size holds";

  // The splitter never leaves the list lower than 100 px.
  w.spl1->setSizes({20, 400});
  QApplication::processEvents();
  EXPECT_EQ(w.lbControllers->height(), 100);
}

// A picture of the window on the bench must never pass for a real flash.
TEST(Window, OnTheBenchTheCaptionSaysSo) {
  AppPlatformLoad load = MakeAppPlatform("1", {});
  ASSERT_TRUE(load.platform) << load.error;
  MainWindow window(load.platform->Platform());
  EXPECT_EQ(window.windowTitle().toStdString().rfind("Brisquel - simulated bench on ", 0), 0u)
      << window.windowTitle().toStdString();
}

// The window on the bench keeps its drives' firmware where the command line
// does: a download is written down at once, and the next window starts from it.
TEST(Window, TheBenchStateIsWrittenAfterADownloadAndReadAtStart) {
  const auto dir = std::filesystem::temp_directory_path() / "brisquel-gui-state";
  std::filesystem::remove_all(dir);
  const QByteArray saved = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(dir.string()));
  const std::string firmware = FirmwareFile();
  const auto run = [&](bool download) {
    AppPlatformLoad load = MakeAppPlatform("1", {});
    EXPECT_TRUE(load.platform) << load.error;
    MainWindow window(load.platform->Platform());
    WatchBenchMemory(window.Logic(), load.platform->Memory());
    window.show();
    QApplication::processEvents();
    QListWidget* list = window.lbControllers;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    if (download) {
      ChooseFile(firmware);
      QTest::mouseClick(window.btUnlock, Qt::LeftButton);
    } else {
      QTest::mouseClick(window.btIdentify, Qt::LeftButton);
    }
    return window.meLog->toPlainText().split(QLatin1Char('\n'));
  };
  EXPECT_EQ(run(true).value(3), "Firmware revision 15.01H15 -> NEWFW1");
  std::ifstream state(dir / "brisquel" / "bench-default.state");
  const std::string text{std::istreambuf_iterator<char>(state), {}};
  EXPECT_NE(text.find("NEWFW1"), std::string::npos) << text;
  EXPECT_EQ(run(false).value(1), "WDC WD5000AAKX-00SIMB0 FW:NEWFW1 SN:WD-WCSIM0000002");
  qputenv("XDG_STATE_HOME", saved);
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(std::filesystem::path(firmware).parent_path());
}

TEST(Window, TabOrderRunsListLogThenThePanel) {
  ShownWindow s;
  MainWindow& w = s.window;
  s.ClickLine(0);  // the operation buttons take focus only when enabled
  const QStringList named = {"lbControllers", "meLog", "btIdentify", "btUnlock", "btReplace",
                             "rbAPI",         "rbPIO", "cbDlmcType", "btBreak"};
  QStringList chain;
  QWidget* widget = w.lbControllers;
  do {
    if (named.contains(widget->objectName()) && !chain.contains(widget->objectName())) {
      chain << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != w.lbControllers && chain.size() < named.size());
  EXPECT_EQ(chain, named);
}

TEST(Window, SelectIdentifyAndDownloadOnTheBench) {
  ShownWindow s;
  MainWindow& w = s.window;
  ASSERT_EQ(w.lbControllers->count(), 4);
  EXPECT_EQ(w.lbControllers->item(0)->text(), "WDC WD5000AAKX-00SIMB0 ATA Device");

  s.ClickLine(0);
  EXPECT_EQ(s.Log(), QStringList{"Bus Type:SATA"});
  EXPECT_TRUE(w.btIdentify->isEnabled());

  QTest::mouseClick(w.btIdentify, Qt::LeftButton);
  EXPECT_EQ(s.Log(), (QStringList{"Bus Type:SATA",
                                  "WDC WD5000AAKX-00SIMB0 FW:15.01H15 SN:WD-WCSIM0000002", ""}));

  const std::string firmware = FirmwareFile();
  ChooseFile(firmware);
  QTest::mouseClick(w.btUnlock, Qt::LeftButton);
  QStringList log = s.Log();
  ASSERT_GE(log.size(), 6);
  EXPECT_EQ(log[3], "Download Microcode 07 - brisquel-gui-fw.bin - Start");
  EXPECT_EQ(log[4], "Download Microcode 07 - brisquel-gui-fw.bin - End - OK");
  EXPECT_EQ(log[5], "Firmware revision 15.01H15 -> NEWFW1");
  EXPECT_TRUE(w.btUnlock->isEnabled());
  QTest::mouseClick(w.btIdentify, Qt::LeftButton);
  EXPECT_EQ(s.Log().value(6), "WDC WD5000AAKX-00SIMB0 FW:NEWFW1 SN:WD-WCSIM0000002")
      << "the drive runs the new firmware";

  // The next dialog offers no file: Enter alone must not send the last one again.
  QString offered = QStringLiteral("not asked");
  ChooseFile(firmware, &offered);
  QTest::mouseClick(w.btReplace, Qt::LeftButton);
  EXPECT_EQ(offered, QString());
  log = s.Log();
  ASSERT_EQ(log.size(), 11);
  EXPECT_EQ(log[8], "Download Microcode (DPTM) - brisquel-gui-fw.bin - Begin");
  EXPECT_EQ(log[9], "Download Microcode (DPTM) - brisquel-gui-fw.bin - SUCCESS ");
  EXPECT_EQ(log[10], "Firmware revision NEWFW1 -> NEWFW1");
  EXPECT_TRUE(w.btReplace->isEnabled());
  std::filesystem::remove_all(std::filesystem::path(firmware).parent_path());
}

// A path typed into the dialog opens its completion list; Enter accepts the
// dialog, and nothing of it may stay on screen over the log.
TEST(Window, TheFileDialogLeavesNoCompletionListBehind) {
  ShownWindow s;
  MainWindow& w = s.window;
  s.ClickLine(0);
  const std::string firmware = FirmwareFile();
  bool listShown = false;
  OnNextModal([&firmware, &listShown](QWidget* modal) {
    auto* dialog = qobject_cast<QDialog*>(modal);
    auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(dialog && name);
    name->setFocus();
    // All but the last letter, then wait for the list the folder's files open.
    QTest::keyClicks(name, QString::fromStdString(firmware.substr(0, firmware.size() - 1)));
    QElapsedTimer waited;
    waited.start();
    while (!(name->completer() && name->completer()->popup()->isVisible()) &&
           waited.elapsed() < 5000) {
      QTest::qWait(20);
    }
    listShown = name->completer() && name->completer()->popup()->isVisible();
    // Accepted as Enter accepts it, the list left as the typing left it.
    // While the folder is still being read the dialog may take the path for
    // its folder and open that instead: however it closes, nothing of it may
    // stay behind.
    for (int enter = 0; enter < 3 && dialog->isVisible(); ++enter) {
      name->setText(QString::fromStdString(firmware));
      dialog->accept();
    }
    if (dialog->isVisible()) dialog->reject();  // never leave the test waiting on it
  });
  QTest::mouseClick(w.btUnlock, Qt::LeftButton);
  EXPECT_TRUE(listShown) << "the dialog never showed its completion list";
  QApplication::processEvents();
  for (QWidget* top : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(top->isVisible() && top->windowType() == Qt::Popup)
        << top->metaObject()->className() << " still shown";
  }
  std::filesystem::remove_all(std::filesystem::path(firmware).parent_path());
}

TEST(Window, DoubleClickOnALineIdentifiesIt) {
  ShownWindow s;
  QWidget* lines = s.window.lbControllers->viewport();
  QTest::mouseClick(lines, Qt::LeftButton, {}, s.LinePoint(2));
  QTest::mouseDClick(lines, Qt::LeftButton, {}, s.LinePoint(2));
  // The toolkit's selection click comes first, once.
  EXPECT_EQ(s.Log(), (QStringList{"Bus Type:USB",
                                  "WDC WD10EZEX-00SIMC0 FW:01.01A01 SN:WD-WCSIM0000003", ""}));
}

TEST(Window, BreakEndsAWaitOnADriveThatStaysBusy) {
  ShownWindow s;
  MainWindow& w = s.window;
  QTest::mouseClick(w.rbPIO, Qt::LeftButton);
  ASSERT_TRUE(w.rbPIO->isChecked());
  ASSERT_GE(w.lbControllers->count(), 2);
  EXPECT_EQ(w.lbControllers->item(0)->text(),
            "01F0/03F6 - Int ATA: Intel 82801G (ICH7 Family) IDE");
  s.ClickLine(0);
  s.bench->Drive("ide0")->Faults().stayBusy = true;

  bool duringOperation = false;
  bool stayedOpen = false;
  QTimer::singleShot(50, [&] {
    duringOperation = !w.btIdentify->isEnabled() && w.btBreak->isEnabled();
    w.close();  // refused while the operation runs
    stayedOpen = w.isVisible();
    QTest::mouseClick(w.btBreak, Qt::LeftButton);
  });
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(w.btIdentify, Qt::LeftButton);
  EXPECT_TRUE(duringOperation);
  EXPECT_TRUE(stayedOpen);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(s.Log(),
            (QStringList{"The window stays open until the running work ends (Break stops it)",
                         " FW: SN:", ""}));
  EXPECT_TRUE(w.btIdentify->isEnabled());
}

TEST(Window, ADriveThatWillNotOpenIsNamedInAMessageBoxTitledBrisquel) {
  ShownWindow s;
  s.bench->Io().Unplug(s.state.DriveTable[0].DevicePath);
  QString title, text;
  OnNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    box->accept();
  });
  s.ClickLine(0);
  EXPECT_EQ(title, "Brisquel");
  EXPECT_EQ(text, "WDC WD5000AAKX-00SIMB0 ATA Device");
  EXPECT_TRUE(s.window.btIdentify->isEnabled());
}

TEST(Window, PlacementIsRestoredWhenFirstShownAndSavedOnClose) {
  const auto dir = std::filesystem::temp_directory_path() / "brisquel-gui-placement";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto file = dir / "brisquel.INI";
  {
    std::ofstream out(file, std::ios::binary);
    out << "[Other]\r\nx=1\r\n[TfmMain]\r\nNormPos=50,40,750,500\r\n";
  }
  const QSize screen = QGuiApplication::primaryScreen()->size();
  const std::string screenKey =
      "(" + std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + ")";
  {
    ShownWindow s(sim::Bench::Default(), file);
    EXPECT_EQ(s.window.geometry(), QRect(50, 40, 700, 460));
    s.window.resize(720, 480);
    s.window.close();
  }
  std::string text = ReadPlacementFile(file).value_or("");
  EXPECT_EQ(text.rfind("[Other]\r\nx=1\r\n[TfmMain]\r\nNormPos=50,40,770,520\r\n", 0), 0u) << text;
  for (const std::string& line : std::vector<std::string>{
           "FormVersion=0", "ShowCmd=1", "NormPos" + screenKey + "=50,40,770,520",
           "MinMaxPos=-1,-1,-1,-1", "MinMaxPos" + screenKey + "=-1,-1,-1,-1", "Visible="}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }

  // Nothing saved yet: the window is centred.
  std::filesystem::remove(file);
  {
    ShownWindow fresh(sim::Bench::Default(), file);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((fresh.window.frameGeometry().center() - available.center()).manhattanLength(), 2);
  }
  EXPECT_TRUE(std::filesystem::exists(file)) << "saved when the window goes";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace brisquel::gui
