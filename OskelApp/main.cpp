// The Oskel application: start-up, single instance, preview images and a
// quit that never waits more than five seconds.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>

#include <fmt/format.h>

#include "AppDelegate.h"
#include "CommandLine.h"
#include "Keychain.h"
#include "L10n.h"
#include "ModelEnvironment.h"
#include "Preferences.h"
#include "LogFile.h"
#include "Preview.h"
#include "ProcessWait.h"
#include "SingleInstance.h"
#include "Telemetry.h"
#include "Updater.h"
#include "log/Log.h"
#include "service/OskelAPI.h"

#ifndef OSKEL_APP_VERSION
#define OSKEL_APP_VERSION "0"
#endif

namespace {

using namespace oskel;
constexpr const char* desktopId = "com.brindlework.oskel";
// Quitting ends within 5.0 s: what runs gets the rest after telemetry's own bound.
constexpr auto quitBound = std::chrono::milliseconds(5000) - Telemetry::quitBound;
constexpr auto oldProcessBound = std::chrono::seconds(30);

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] auto ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM (the session ending) and SIGINT quit through the same bounded path.
void quitOnSignals(views::AppDelegate& delegate) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [&delegate] {
    char buffer[16];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    delegate.requestQuit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  const auto options = app::CommandLine::parse(arguments);
  if (!options.preview) {
    if (const auto file = app::redirectLogUnlessTerminal()) std::setvbuf(stderr, nullptr, _IOLBF, 0);
  }
  Log::setVerbose(options.verbose);
  if (options.waitForPid && !app::waitForProcessExit(*options.waitForPid, oldProcessBound))
    Log::warn([&] { return fmt::format("process {} still runs; starting anyway", *options.waitForPid); });

  QApplication application(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Brindlework"));
  QApplication::setApplicationName(QStringLiteral("Oskel"));
  QApplication::setApplicationVersion(QStringLiteral(OSKEL_APP_VERSION));
  QApplication::setDesktopFileName(QString::fromLatin1(desktopId));
  QApplication::setQuitOnLastWindowClosed(false);

  if (options.preview) return views::writePreviews(*options.preview, std::cout, std::cerr);

  views::AppDelegate* running = nullptr;
  app::SingleInstance instance;
  if (!instance.claim(arguments, [&running](const app::SingleInstance::Message&) {
        if (running) running->reopen();
      })) {
    Log::info([] { return std::string("Oskel already runs: its window was brought forward"); });
    return 0;
  }

  Keychain::setApplicationId(desktopId);
  auto telemetry = std::make_shared<Telemetry>(Telemetry::configFromEnvironment(), Preferences::qt());
  telemetry->open();
  Log::info([] { return fmt::format("Oskel API {}", OskelAPI::origin()); });
  // The interface language is set before the model may change it for the next launch.
  L10n(Preferences::qt()).install();
  AppModel model(applicationEnvironment(telemetry));

  auto updaterQueue = std::make_shared<SerialQueue>("oskel.updater");
  Updater::Seams seams;
  // After installing, the same bounded quit as the menu's.
  seams.quit = [&running] {
    QMetaObject::invokeMethod(qApp, [&running] {
      if (running) running->requestQuit();
    }, Qt::QueuedConnection);
  };
  auto updater = Updater::create(updaterQueue, update::UpdaterSettings::fromEnvironment(), std::move(seams));

  QSettings frames;
  views::AppDelegate delegate(
      model, {.updater = updater,
              .schedule = [](std::chrono::milliseconds delay,
                             std::function<void()> task) { QTimer::singleShot(delay, qApp, std::move(task)); },
              .terminate = [] { QApplication::quit(); },
              .screen = [telemetry](const std::string& name) { telemetry->screen(name); },
              .relaunchForLanguage = [] { L10n::relaunch(); },
              .frames = &frames,
              .version = OSKEL_APP_VERSION,
              .quitBound = std::chrono::duration_cast<std::chrono::milliseconds>(quitBound)});
  running = &delegate;
  quitOnSignals(delegate);
  delegate.finishLaunching({.onboard = options.onboard, .updateNow = options.updateNow});

  const int status = QApplication::exec();
  telemetry->quit();
  if (delegate.quitGate().timedOut()) {
    // What would not stop in time must not hold the process in its destructors.
    Log::warn([] { return std::string("quit: a stop did not complete in time"); });
    std::fflush(stderr);
    std::_Exit(status);
  }
  return status;
}
