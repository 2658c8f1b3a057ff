#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "series/real_file_system.h"
#include "window/folder_listing.h"
#include "window/main_window.h"
#include "window/termination_signals.h"

int main(int argc, char* argv[]) {
#if defined(Q_OS_LINUX)
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    std::fputs("olvesk: no display to open the window on (DISPLAY is unset)\n",
               stderr);
    return 1;
  }
#endif
  QApplication app(argc, argv);
  QApplication::setApplicationName("Olvesk");
  // The installed desktop file's name, without ".desktop": lets the desktop
  // match the window to its launcher and icon.
  QApplication::setDesktopFileName("io.github.olvesk.Olvesk");
#if !defined(Q_OS_WIN)
  // For title bars and task switchers that do not look the launcher up.
  QApplication::setWindowIcon(QIcon(":/olvesk.png"));
#endif

  olvesk::RealFileSystem fs;
  olvesk::MainWindow window(fs, olvesk::WorkingFolder());
  olvesk::CloseOnTerminationSignals(&window);
  window.show();
  return app.exec();
}
