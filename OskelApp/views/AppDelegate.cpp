#include "AppDelegate.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>

#include "MainWindow.h"
#include "OnboardingWindow.h"
#include "StateTexts.h"
#include "Tray.h"
#include "UpdateWindow.h"
#include "Updater.h"
#include "Widgets.h"
#include "log/Log.h"

namespace oskel::views {

namespace {

void bringForward(QWidget* window) {
  window->show();
  window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->raise();
  window->activateWindow();
}

void centre(QWidget* window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
  }
}

}  // namespace

AppDelegate::AppDelegate(AppModel& model, Environment environment)
    : model_(model),
      env_(std::move(environment)),
      binding_(model),
      context_(std::make_unique<QObject>()),
      callRunning_(std::make_shared<std::atomic<bool>>(false)),
      quitGate_(env_.quitBound, env_.schedule, [this] {
        if (mainWindow_ && env_.frames) mainWindow_->saveFrame(*env_.frames);
        if (env_.terminate) env_.terminate();
      }) {
  ViewActions extra;
  extra.quit = [this] { requestQuit(); };
  extra.getStarted = [this] { finishOnboarding(); };
  extra.beginUpdate = [this] {
    if (env_.updater) env_.updater->beginUpdate();
  };
  extra.cancelUpdate = [this] {
    if (env_.updater) env_.updater->cancel();
  };
  actions_ = std::make_shared<const ViewActions>(binding_.actions(std::move(extra)));
  QObject::connect(&model_, &AppModel::changed, context_.get(), [this](AppModel::Property) { render(); });
}

AppDelegate::~AppDelegate() {
  if (env_.updater) env_.updater->setCallbacks({});
  delete onboardingWindow_.data();
  delete updateWindow_.data();
}

OnboardingWindow* AppDelegate::onboardingWindow() const { return onboardingWindow_.data(); }

UpdateWindow* AppDelegate::updateWindow() const { return updateWindow_.data(); }

void AppDelegate::finishLaunching(Launch launch) {
  if (launch.onboard) model_.setOnboardingCompleted(false);

  // The menus live in the main window (a Linux window carries its own menu bar).
  auto* main = new MainWindow(actions_, env_.now);
  mainWindow_.reset(main);
  main->setOnClose([this] {
    if (env_.frames) mainWindow_->saveFrame(*env_.frames);
    // Without a tray an idle application closed by the user has nothing left to show.
    if (!tray_ && !isRunning(model_.state())) requestQuit();
  });
  if (!env_.frames || !main->restoreFrame(*env_.frames)) centre(main);
  menus_ = AppMenus::install(main->menuBar(), main,
                             {.about =
                                  [this] {
                                    QMessageBox::about(mainWindow_.get(), T("About Oskel"),
                                                       QStringLiteral("<b>Oskel</b> %1<br>%2")
                                                           .arg(qs(env_.version), T("Live interpreter for your calls")));
                                  },
                              .quit = [this] { requestQuit(); },
                              .checkForUpdates = [this] { checkForUpdates(); },
                              .toggleTranslation = [this] { toggleTranslation(); },
                              .toggleRecording = [this] { toggleRecording(); },
                              .showRecordings = [this] { showRecordings(); },
                              .showMainWindow = [this] { showMainWindow(); }});
  if (env_.tray)
    tray_ = Tray::createIfAvailable({.toggleTranslation = [this] { toggleTranslation(); },
                                     .toggleRecording = [this] { toggleRecording(); },
                                     .showMainWindow = [this] { reopen(); },
                                     .quit = [this] { requestQuit(); }});

  if (env_.updater) {
    const QPointer<QObject> context = context_.get();
    const auto onQt = [context](std::function<void()> task) {
      if (context) QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
    };
    updateState_ = env_.updater->state();
    env_.updater->setCallbacks(
        {.isCallRunning = [running = callRunning_] { return running->load(); },
         .onProgressUI = [this, onQt] { onQt([this] { showUpdateWindow(); }); },
         .onAlert =
             [this, onQt](const std::string& title, const std::string& text) {
               onQt([this, title, text] {
                 auto* box = new QMessageBox(QMessageBox::Information, qs(title), qs(text), QMessageBox::Ok, mainWindow_.get());
                 box->setAttribute(Qt::WA_DeleteOnClose);
                 box->show();
               });
             },
         .onStateChanged = [this, onQt](const update::State& state) { onQt([this, state] { reflectUpdate(state); }); }});
    if (launch.updateNow) {
      env_.updater->check(false);
    } else if (env_.schedule) {
      env_.schedule(firstUpdateCheck, [updater = std::weak_ptr(env_.updater)] {
        if (auto u = updater.lock()) u->startAutomaticChecks();
      });
    }
  }
  render();
  if (model_.onboardingCompleted()) {
    showMainWindow();
  } else {
    showOnboarding();
  }
}

void AppDelegate::render() {
  if (rendering_ || !mainWindow_) return;
  rendering_ = true;
  const ViewState state = binding_.snapshot(updateState_, env_.version);
  callRunning_->store(isRunning(state.state));
  mainWindow_->render(state);
  if (OnboardingWindow* window = onboardingWindow_.data()) window->render(state);
  // "…" while a call restarts even if the state says live.
  const TranslatorState shown = state.callRestarting && isRunning(state.state) ? TranslatorState(TranslatorStates::Reconnecting{})
                                                                                : state.state;
  const std::string toggleTitle = translateTitle(shown);
  const std::string recordTitle = recordMenuTitle(state.isRecording);
  const bool canRecord = state.mode == Mode::call && isRunning(state.state);
  if (menus_.toggleItem) menus_.toggleItem->setText(T(toggleTitle.c_str()));
  if (menus_.recordItem) {
    menus_.recordItem->setText(T(recordTitle.c_str()));
    menus_.recordItem->setEnabled(canRecord || state.isRecording);
  }
  if (tray_) tray_->reflect(badge(state.state, state.callRestarting), toggleTitle, recordTitle, canRecord);
  rendering_ = false;
}

void AppDelegate::reflectUpdate(const update::State& state) {
  updateState_ = state;
  if (UpdateWindow* window = updateWindow_.data()) window->reflect(state);
  render();
}

void AppDelegate::showMainWindow() {
  if (!model_.onboardingCompleted()) return showOnboarding();
  if (mainWindow_) bringForward(mainWindow_.get());
}

void AppDelegate::showOnboarding() {
  if (OnboardingWindow* shown = onboardingWindow_.data()) return bringForward(shown);
  auto* window = new OnboardingWindow(actions_);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setOnClose([this] { onboardingClosedByUser(); });
  onboardingWindow_ = window;
  centre(window);
  render();
  bringForward(window);
  onboardingShown_ = std::chrono::steady_clock::now();
  if (env_.screen) env_.screen("Onboarding: Playground");
  model_.openPlayground();
}

void AppDelegate::forgetOnboarding() {
  OnboardingWindow* window = onboardingWindow_.data();
  onboardingWindow_ = nullptr;
  if (!window) return;
  window->setOnClose({});
  window->close();
}

void AppDelegate::onboardingClosedByUser() {
  onboardingWindow_ = nullptr;
  model_.leavePlayground("window_closed");
  // With nothing else on screen and no tray, an idle application ends.
  if (!tray_ && !(mainWindow_ && mainWindow_->isVisible())) requestQuit();
}

void AppDelegate::finishOnboarding() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - onboardingShown_).count();
  model_.finishOnboarding(seconds, [this] {
    forgetOnboarding();
    if (model_.l10n().chosen() != model_.l10n().current() && env_.relaunchForLanguage) {
      env_.relaunchForLanguage();
      return;
    }
    showMainWindow();
  });
}

void AppDelegate::showUpdateWindow() {
  UpdateWindow* window = updateWindow_.data();
  if (!window) {
    window = new UpdateWindow(actions_);
    updateWindow_ = window;
    centre(window);
  }
  if (updateState_) window->reflect(*updateState_);
  bringForward(window);
}

void AppDelegate::reopen() {
  if (model_.onboardingCompleted()) {
    showMainWindow();
  } else {
    showOnboarding();
  }
}

void AppDelegate::requestQuit() {
  if (quitGate_.pending() || quitGate_.done()) return;
  Log::info([] { return std::string("quitting"); });
  if (onboardingWindow_) {
    return quitGate_.request([this](std::function<void()> stopped) { model_.leavePlayground("quit", std::move(stopped)); });
  }
  if (model_.isPlaygroundRunning())
    return quitGate_.request([this](std::function<void()> stopped) { model_.stopPlayground(true, std::move(stopped)); });
  if (model_.isRunning())
    return quitGate_.request([this](std::function<void()> stopped) { model_.stop(true, std::move(stopped)); });
  quitGate_.request({});
}

void AppDelegate::toggleTranslation() {
  model_.toggle();
  if (model_.onboardingCompleted()) showMainWindow();
}

void AppDelegate::toggleRecording() {
  if (model_.isRecording()) {
    model_.stopRecording();
  } else {
    model_.startRecording();
  }
}

void AppDelegate::showRecordings() {
  model_.setShowingRecordings(true);
  showMainWindow();
}

void AppDelegate::checkForUpdates() {
  if (env_.updater) env_.updater->check(true);
}

}  // namespace oskel::views
