// Build tool: writes the application icon as PNG files in the freedesktop
// icon theme layout (DIR/NxN/apps/brisquel.png), from the same drawing the
// window uses, so the menu and the window show one picture.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "app/gui/Pictures.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: brisquel_icon_export DIR\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString dir = root + QStringLiteral("/%1x%1/apps").arg(size);
    if (!QDir().mkpath(dir) ||
        !brisquel::gui::ApplicationPicture(size).save(dir + QStringLiteral("/brisquel.png"))) {
      std::fprintf(stderr, "brisquel_icon_export: cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
