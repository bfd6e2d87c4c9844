#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/WAV.h"

extern char** environ;

namespace oskel {
namespace {

namespace fs = std::filesystem;

// The crash child (RecordingCrashChild.cpp) recording into `path`, its
// standard output in a pipe.
class RecordingChild {
 public:
  explicit RecordingChild(const fs::path& path) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string program = OSKEL_CRASH_CHILD;
    const std::string file = path.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
    const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
    if (failed != 0) throw std::runtime_error("cannot start " + program);
  }

  ~RecordingChild() {
    kill();
    close(output_);
  }

  bool exited() {
    if (pid_ < 0) return true;
    if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }

  void kill() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Everything the child wrote; call after kill().
  std::string output() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(output_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};

// Counts changes in a folder: files created or written.
class FolderWatch {
 public:
  explicit FolderWatch(const fs::path& folder) : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MODIFY);
  }
  ~FolderWatch() { close(fd_); }

  // Waits for `count` more changes; false when none came for two seconds.
  bool waitFor(int count) {
    alignas(inotify_event) char buffer[4096];
    while (seen_ < count) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 2000) != 1) return false;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        ++seen_;
      }
    }
    return true;
  }

 private:
  int fd_;
  int seen_ = 0;
};

struct Report {
  bool started = false;
  std::int64_t flushedFrames = 0;  // after the last completed flush
};

Report parse(const std::string& output) {
  Report report;
  std::istringstream lines(output);
  std::string word;
  while (lines >> word) {
    if (word == "started") report.started = true;
    if (word == "flushed") lines >> report.flushedFrames;
  }
  return report;
}

// The child writes both channels at once, so resampling block boundaries are
// the only difference from the reference: allow one step of the 16-bit scale.
void expectClose(const std::vector<std::int16_t>& actual, const std::vector<std::int16_t>& expected,
                 const std::string& what) {
  ASSERT_LE(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i) {
    ASSERT_LE(std::abs(actual[i] - expected[i]), 1) << what << " differs at frame " << i;
  }
}

TEST(CallRecorderCrash, AKilledRecordingIsAValidWavWithEveryCompletedFlush) {
  test::TempFolder folder;
  std::mt19937 random(20240305);
  std::uniform_int_distribution<int> changesBeforeKill(0, 14);
  const auto left = test::expectedChannel(test::leftSignal, 44100, 441 * 1500, 441);
  const auto right = test::expectedChannel(test::rightSignal, 16000, 160 * 1500, 160);

  int withAudio = 0;
  for (int run = 0; run < 50; ++run) {
    SCOPED_TRACE(fmt::format("run {}", run));
    const auto path = folder / fmt::format("Oskel crash {}.wav", run);
    FolderWatch watch(folder.path());
    RecordingChild child(path);
    const int changes = changesBeforeKill(random);
    ASSERT_TRUE(watch.waitFor(changes) || child.exited()) << "the recording did not change";
    ASSERT_FALSE(child.exited()) << "the child ended by itself: " << child.output();
    child.kill();
    const Report report = parse(child.output());

    if (!fs::exists(path)) {
      EXPECT_FALSE(report.started) << "a started recording has a file";
      continue;
    }
    const auto audio = WAV::read(path);
    ASSERT_TRUE(audio) << "unreadable after the kill";
    const auto file = test::readStereo(path);
    EXPECT_EQ(file.riffSize, file.dataBytes + 36);
    EXPECT_EQ(file.dataBytes % 4, 0u);
    EXPECT_GE(file.fileBytes, 44u + file.dataBytes);
    EXPECT_GE(static_cast<std::int64_t>(file.left.size()), report.flushedFrames);
    EXPECT_EQ(audio->samples.size(), file.left.size());
    expectClose(file.left, left, "left");
    expectClose(file.right, right, "right");
    if (!file.left.empty()) ++withAudio;
  }
  EXPECT_GT(withAudio, 20) << "too few kills happened mid-call";
}

}  // namespace
}  // namespace oskel
