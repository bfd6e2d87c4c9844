#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "AppMenus.h"
#include "ModelBinding.h"
#include "QuitGate.h"
#include "ViewState.h"

class QSettings;

namespace oskel {
class Updater;
}

namespace oskel::views {

class MainWindow;
class OnboardingWindow;
class Tray;
class UpdateWindow;

// Owns the windows, the menus and the tray for the life of the process and
// keeps them in step with the model and the updater. Everything runs on the
// Qt thread; the updater's callbacks are carried over to it.
class AppDelegate {
 public:
  struct Environment {
    std::shared_ptr<Updater> updater;  // may be empty (tests)
    // Runs a task later on the Qt thread: the quit bound and the first update check.
    app::QuitGate::Schedule schedule;
    // Ends the process once quitting may go ahead.
    std::function<void()> terminate;
    // Telemetry's screen(name).
    std::function<void(const std::string&)> screen;
    // The interface language changed at the end of onboarding.
    std::function<void()> relaunchForLanguage;
    std::function<std::chrono::system_clock::time_point()> now = [] { return std::chrono::system_clock::now(); };
    QSettings* frames = nullptr;  // window geometry; none: not remembered
    std::string version;
    bool tray = true;
    // How long quitting may wait for what runs to stop.
    std::chrono::milliseconds quitBound{5000};
  };
  struct Launch {
    bool onboard = false;
    bool updateNow = false;
  };

  static constexpr std::chrono::milliseconds firstUpdateCheck{5000};

  AppDelegate(AppModel& model, Environment environment);
  ~AppDelegate();

  // The launch after the preview option: onboarding reset, menus, updater
  // callbacks and checks, then the first window.
  void finishLaunching(Launch launch);

  void showMainWindow();
  void showOnboarding();
  void showUpdateWindow();
  // Another launch of the program: bring the right window forward.
  void reopen();
  // Quit from the menu, the tray, the window or the session.
  void requestQuit();

  // Menu actions.
  void toggleTranslation();
  void toggleRecording();
  void showRecordings();
  void checkForUpdates();

  MainWindow* mainWindow() const { return mainWindow_.get(); }
  OnboardingWindow* onboardingWindow() const;
  UpdateWindow* updateWindow() const;
  const AppMenus& menus() const { return menus_; }
  Tray* tray() const { return tray_.get(); }
  const app::QuitGate& quitGate() const { return quitGate_; }
  // The update state as the windows last saw it.
  void reflectUpdate(const update::State& state);

 private:
  void render();
  void onboardingClosedByUser();
  void finishOnboarding();
  void forgetOnboarding();

  AppModel& model_;
  Environment env_;
  ModelBinding binding_;
  std::shared_ptr<const ViewActions> actions_;
  std::unique_ptr<QObject> context_;  // receives the updater's callbacks on the Qt thread
  std::optional<update::State> updateState_;
  std::shared_ptr<std::atomic<bool>> callRunning_;
  app::QuitGate quitGate_;
  AppMenus menus_;
  std::unique_ptr<Tray> tray_;
  std::unique_ptr<MainWindow> mainWindow_;
  QPointer<OnboardingWindow> onboardingWindow_;
  QPointer<UpdateWindow> updateWindow_;
  std::chrono::steady_clock::time_point onboardingShown_;
  bool rendering_ = false;
};

}  // namespace oskel::views
