// Runs every window and start-up suite in one QApplication.
#include <QApplication>
#include <QTest>

#include "AppUiTests.h"

int main(int argc, char** argv) {
  // Offscreen unless a display was chosen (the tray run uses xcb under Xvfb).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  int failures = 0;
  for (QObject* suite : oskel::test::appUiSuites()) {
    failures += QTest::qExec(suite, argc, argv);
    delete suite;
  }
  return failures == 0 ? 0 : 1;
}
