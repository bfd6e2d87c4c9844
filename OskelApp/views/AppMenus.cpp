#include "AppMenus.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "Widgets.h"

namespace oskel::views {

namespace {

QAction* item(QMenu* menu, const char* title, const QKeySequence& keys, std::function<void()> run) {
  auto* action = menu->addAction(T(title));
  action->setShortcut(keys);
  QObject::connect(action, &QAction::triggered, action, [run = std::move(run)] {
    if (run) run();
  });
  return action;
}

// Edit commands go to the focused text field, as its own shortcuts would.
std::function<void()> toFocus(const char* slot) {
  return [slot] {
    if (QWidget* focus = QApplication::focusWidget()) QMetaObject::invokeMethod(focus, slot);
  };
}

}  // namespace

AppMenus AppMenus::install(QMenuBar* bar, QWidget* window, Commands c) {
  AppMenus menus;
  QMenu* app = bar->addMenu(QStringLiteral("&Oskel"));
  item(app, "About Oskel", {}, c.about);
  app->addSeparator();
  item(app, "Quit Oskel", QKeySequence::Quit, c.quit);

  QMenu* file = bar->addMenu(T("&File"));
  item(file, "Check for Updates…", QKeySequence(Qt::CTRL | Qt::Key_U), c.checkForUpdates);
  file->addSeparator();
  item(file, "Close", QKeySequence::Close, [window] {
    if (QWidget* active = QApplication::activeWindow()) active->close();
    else window->close();
  });

  QMenu* edit = bar->addMenu(T("&Edit"));
  item(edit, "Undo", QKeySequence::Undo, toFocus("undo"));
  item(edit, "Redo", QKeySequence::Redo, toFocus("redo"));
  edit->addSeparator();
  item(edit, "Cut", QKeySequence::Cut, toFocus("cut"));
  item(edit, "Copy", QKeySequence::Copy, toFocus("copy"));
  item(edit, "Paste", QKeySequence::Paste, toFocus("paste"));
  item(edit, "Select All", QKeySequence::SelectAll, toFocus("selectAll"));
  // Text fields handle these keys themselves; the menu items must not steal them.
  for (QAction* action : edit->actions()) action->setShortcutContext(Qt::WidgetShortcut);

  QMenu* call = bar->addMenu(T("&Call"));
  menus.toggleItem = item(call, "Start Translating", QKeySequence(Qt::CTRL | Qt::Key_T), c.toggleTranslation);
  menus.toggleItem->setObjectName("toggleMenuItem");
  menus.recordItem = item(call, "Record Call", QKeySequence(Qt::CTRL | Qt::Key_R), c.toggleRecording);
  menus.recordItem->setObjectName("recordMenuItem");
  call->addSeparator();
  item(call, "Recordings", QKeySequence(Qt::CTRL | Qt::Key_L), c.showRecordings);

  QMenu* windows = bar->addMenu(T("&Window"));
  item(windows, "Minimize", QKeySequence(Qt::CTRL | Qt::Key_M), [window] { window->showMinimized(); });
  item(windows, "Zoom", {}, [window] { window->isMaximized() ? window->showNormal() : window->showMaximized(); });
  windows->addSeparator();
  item(windows, "Oskel", QKeySequence(Qt::CTRL | Qt::Key_0), c.showMainWindow);
  return menus;
}

}  // namespace oskel::views
