#pragma once

#include <functional>

class QAction;
class QMenuBar;
class QWidget;

namespace oskel::views {

// The menu bar: Oskel, File, Edit, Call and Window, with Ctrl in place of
// Command and the platform's standard keys where Qt has them.
struct AppMenus {
  struct Commands {
    std::function<void()> about;
    std::function<void()> quit;
    std::function<void()> checkForUpdates;
    std::function<void()> toggleTranslation;
    std::function<void()> toggleRecording;
    std::function<void()> showRecordings;
    std::function<void()> showMainWindow;
  };

  // Fills `bar`; `window` is the window the Window menu acts on.
  static AppMenus install(QMenuBar* bar, QWidget* window, Commands commands);

  QAction* toggleItem = nullptr;  // "Start Translating" / "Stop Translating"
  QAction* recordItem = nullptr;  // "Record Call" / "Stop Recording"
};

}  // namespace oskel::views
