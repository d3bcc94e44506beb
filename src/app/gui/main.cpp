// The window. No command-line options; BRISQUEL_SIM picks the simulated bench.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "app/BenchState.h"
#include "app/gui/AppPlatform.h"
#include "app/gui/MainWindow.h"
#include "app/gui/Pictures.h"
#include "app/gui/PlacementFile.h"

int main(int argc, char** argv) {
  using namespace brisquel::gui;
  QApplication app(argc, argv);
  // The application title: message boxes and the taskbar use it.
  QApplication::setApplicationName(QStringLiteral("Brisquel"));
  QApplication::setWindowIcon(ApplicationIcon());

  // Drives are enumerated by the platform set up here, before any window.
  AppPlatformLoad load = MakeAppPlatform(std::getenv("BRISQUEL_SIM"),
                                         QCoreApplication::applicationDirPath().toStdString());
  if (!load.platform) {
    std::fprintf(stderr, "brisquel: %s\n", load.error.c_str());
    QMessageBox::critical(nullptr, QStringLiteral("Brisquel"), QString::fromStdString(load.error));
    return 2;
  }

  MainWindow fmMain(load.platform->Platform(),
                    {DefaultPlacementPath(argc > 0 ? argv[0] : "brisquel")});
  load.platform->SetNoticeLog([&fmMain](const std::string& line) { fmMain.Logic().LogLine(line); });
  WatchBenchMemory(fmMain.Logic(), load.platform->Memory());
  const DeviceChangeFeed changes = load.platform->DeviceChanges();
  fmMain.WatchDeviceChanges(changes.fd, changes.read);
  fmMain.show();
  return app.exec();
}
