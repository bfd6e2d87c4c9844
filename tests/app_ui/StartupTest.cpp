#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <fstream>
#include <sstream>

#include "AppUiTests.h"
#include "CommandLine.h"
#include "LogFile.h"
#include "QuitGate.h"
#include "SingleInstance.h"
#include "support/ScopedEnv.h"

namespace oskel::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  // The bound holds whether the stop completes first, late or never.
  void quitGoesAheadOnceWithinTheBound() {
    std::vector<std::pair<milliseconds, std::function<void()>>> timers;
    int terminated = 0;
    app::QuitGate gate(milliseconds(3500), [&](milliseconds d, std::function<void()> t) { timers.emplace_back(d, t); },
                       [&] { ++terminated; });
    std::function<void()> stopped;
    gate.request([&](std::function<void()> done) { stopped = std::move(done); });
    QVERIFY(gate.pending());
    QCOMPARE(terminated, 0);
    QCOMPARE(timers.size(), size_t{1});
    QCOMPARE(timers[0].first, milliseconds(3500));
    gate.request({});  // a second quit while waiting changes nothing
    timers[0].second();
    QCOMPARE(terminated, 1);
    QVERIFY(gate.timedOut());
    stopped();  // the late completion
    QCOMPARE(terminated, 1);

    app::QuitGate idle(milliseconds(3500), [&](milliseconds, std::function<void()>) { QFAIL("no timer when idle"); },
                       [&] { ++terminated; });
    idle.request({});
    QCOMPARE(terminated, 2);
    QVERIFY(!idle.timedOut());
  }

  void commandLineOptions() {
    auto line = app::CommandLine::parse({"oskel-app", "--onboard", "--wait-for-pid", "123", "--preview"});
    QVERIFY(line.onboard);
    QVERIFY(!line.preview);  // without a folder the option is ignored
    QCOMPARE(line.waitForPid.value_or(0), pid_t{123});
    line = app::CommandLine::parse({"oskel-app", "--preview", "out", "--wait-for-pid", "12x", "--update-now"});
    QCOMPARE(line.preview->string(), std::string("out"));
    QVERIFY(!line.waitForPid);
    QVERIFY(line.updateNow);
  }

  void logFileLocationAndAppending() {
    const fs::path home = fs::temp_directory_path() / ("oskel-ui-log-" + std::to_string(::getpid()));
    fs::remove_all(home);
    ScopedEnv homeVar("HOME", home.string());
    {
      ScopedEnv state("XDG_STATE_HOME", "relative/ignored");
      QCOMPARE(app::logFilePath(), home / ".local/state/oskel/oskel.log");
    }
    ScopedEnv state("XDG_STATE_HOME", (home / "state").string());
    const fs::path file = app::logFilePath();
    QCOMPARE(file, home / "state/oskel/oskel.log");
    // Each run appends; the redirection happens in a child so this process keeps its stderr.
    for (const char* line : {"first\n", "second\n"}) {
      const pid_t child = ::fork();
      if (child == 0) {
        const bool moved = app::appendStandardErrorTo(file);
        [[maybe_unused]] auto written = ::write(2, line, std::strlen(line));
        ::_exit(moved ? 0 : 1);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      QCOMPARE(WEXITSTATUS(status), 0);
    }
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    QCOMPARE(text.str(), std::string("first\nsecond\n"));
    // A folder that cannot be made leaves standard error alone.
    QVERIFY(!app::appendStandardErrorTo("/proc/oskel-no-such/oskel.log"));
    fs::remove_all(home);
  }

  // A second launch hands its arguments over; a crashed instance's socket is taken over.
  void secondLaunchReachesTheFirst() {
    const std::string name = (fs::temp_directory_path() / ("oskel-ui-" + std::to_string(::getpid()) + ".sock")).string();
    std::ofstream{name};  // a crashed instance's leftover
    app::SingleInstance first(name);
    std::vector<std::string> received;
    QVERIFY(first.claim({"oskel-app"}, [&](const app::SingleInstance::Message& m) { received = m; }));
    app::SingleInstance second(name);
    QVERIFY(!second.claim({"oskel-app", "oskel://open"}, {}));
    QTRY_COMPARE(received, (std::vector<std::string>{"oskel-app", "oskel://open"}));
  }
};

}  // namespace

QObject* startupSuite() { return new StartupTest; }

}  // namespace oskel::test

#include "StartupTest.moc"
