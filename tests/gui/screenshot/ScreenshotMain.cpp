// Shows the window on a real X server (run under xvfb-run), selects the SATA
// drive of the default bench, runs Identify and photographs the screen with
// ImageMagick's import. Fails when the window did not get onto the screen, or
// when its log lacks the text given after the picture's name.
#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <cstdio>

#include "app/gui/AppPlatform.h"
#include "app/gui/MainWindow.h"
#include "app/gui/Pictures.h"

int main(int argc, char** argv) {
  using namespace brisquel::gui;
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: gui_screenshot OUTPUT.png [TEXT-IN-THE-LOG]\n");
    return 2;
  }
  QApplication::setApplicationName(QStringLiteral("Brisquel"));
  QApplication::setWindowIcon(ApplicationIcon());
  AppPlatformLoad load = MakeAppPlatform("1", QCoreApplication::applicationDirPath().toStdString());
  if (!load.platform) return 2;

  MainWindow window(load.platform->Platform());
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "the window was never shown\n");
    return 1;
  }
  QListWidget* list = window.lbControllers;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  QTest::mouseClick(window.btIdentify, Qt::LeftButton);
  QTest::qWait(500);

  const QString output = QString::fromLocal8Bit(argv[1]);
  if (QProcess::execute(QStringLiteral("/usr/bin/import"),
                        {QStringLiteral("-window"), QStringLiteral("root"), output}) != 0) {
    std::fprintf(stderr, "import failed\n");
    return 1;
  }
  // The window's area of the picture shows the window: many colours, not the
  // plain background of an empty screen.
  const QImage shot(output);
  const QRect area = window.frameGeometry().intersected(shot.rect());
  QSet<QRgb> colours;
  for (int y = area.top(); y <= area.bottom(); y += 3) {
    for (int x = area.left(); x <= area.right(); x += 3) colours.insert(shot.pixel(x, y));
  }
  std::printf("%s: %dx%d, window at %d,%d %dx%d, %lld colours in it\n", argv[1], shot.width(),
              shot.height(), area.x(), area.y(), area.width(), area.height(),
              static_cast<long long>(colours.size()));
  const bool logSays =
      argc < 3 || window.meLog->toPlainText().contains(QString::fromLocal8Bit(argv[2]));
  if (!logSays) std::fprintf(stderr, "the log does not say %s\n", argv[2]);
  return !shot.isNull() && area.width() >= 625 && colours.size() > 8 && logSays ? 0 : 1;
}
