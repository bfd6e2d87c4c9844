#pragma once

#include <functional>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace oskel::views {

// The tray icon: the call's badge on the icon and in its tooltip, and a menu
// to start and stop, record, show the window and quit. Absent when the
// desktop has no tray (the window title then carries the badge).
class Tray {
 public:
  struct Commands {
    std::function<void()> toggleTranslation;
    std::function<void()> toggleRecording;
    std::function<void()> showMainWindow;
    std::function<void()> quit;
  };

  // None when the desktop shows no tray.
  static std::unique_ptr<Tray> createIfAvailable(Commands commands);
  explicit Tray(Commands commands);
  ~Tray();

  void reflect(const std::string& badge, const std::string& toggleTitle, const std::string& recordTitle,
               bool recordEnabled);
  QSystemTrayIcon& icon() { return *icon_; }
  QMenu& menu() { return *menu_; }

 private:
  Commands commands_;
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  QAction* toggle_ = nullptr;
  QAction* record_ = nullptr;
  std::string badge_ = "-";
};

}  // namespace oskel::views
