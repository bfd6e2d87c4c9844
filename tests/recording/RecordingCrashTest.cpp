#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/WAV.h"

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
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execl(OSKEL_CRASH_CHILD, OSKEL_CRASH_CHILD, path.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    output_ = out[0];
  }
  ~RecordingChild() { close(output_); }

  // Kills the child (if it still runs) and returns everything it wrote.
  std::string kill() {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
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

// The frames the child reported after its last completed flush.
std::int64_t lastFlushed(const std::string& output) {
  const auto at = output.rfind("flushed ");
  return at == std::string::npos ? 0 : std::stoll(output.substr(at + 8));
}

// The child writes both channels at once, so resampling block boundaries are
// the only difference from the reference: allow one step of the 16-bit scale.
void expectClose(const std::vector<std::int16_t>& actual, const std::vector<std::int16_t>& expected,
                 const std::string& what) {
  ASSERT_LE(actual.size(), expected.size()) << what;
  const auto differs = std::ranges::mismatch(actual, expected, [](int a, int b) { return std::abs(a - b) <= 1; });
  EXPECT_EQ(differs.in1, actual.end()) << what << " differs at frame " << differs.in1 - actual.begin();
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
    const bool changed = watch.waitFor(changesBeforeKill(random));
    const std::string output = child.kill();
    ASSERT_TRUE(changed) << "the recording did not change: " << output;
    ASSERT_EQ(output.find("saved"), std::string::npos) << "the child ended by itself";

    if (!fs::exists(path)) {
      EXPECT_EQ(output.find("started"), std::string::npos) << "a started recording has a file";
      continue;
    }
    const auto audio = WAV::read(path);
    ASSERT_TRUE(audio) << "unreadable after the kill";
    const auto file = test::readStereo(path);
    EXPECT_TRUE(file.standardHeader(48000));
    EXPECT_EQ(file.dataBytes % 4, 0u);
    EXPECT_GE(file.fileBytes, 44u + file.dataBytes);
    EXPECT_GE(static_cast<std::int64_t>(file.left.size()), lastFlushed(output));
    EXPECT_EQ(audio->samples.size(), file.left.size());
    expectClose(file.left, left, "left");
    expectClose(file.right, right, "right");
    if (!file.left.empty()) ++withAudio;
  }
  EXPECT_GT(withAudio, 20) << "too few kills happened mid-call";
}

}  // namespace
}  // namespace oskel
