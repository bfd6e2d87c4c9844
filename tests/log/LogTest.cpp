#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "log/Log.h"
#include "support/LogCapture.h"

using namespace oskel;

namespace {

struct RawCapture {
  std::mutex mutex;
  std::vector<std::string> lines;
  Log::Sink previous;
  RawCapture() {
    previous = Log::setSink([this](std::string_view line) {
      std::lock_guard guard(mutex);
      lines.emplace_back(line);
    });
  }
  ~RawCapture() { Log::setSink(std::move(previous)); }
};

}  // namespace

TEST(Log, LineHasTimeTagAndMessage) {
  RawCapture capture;
  Log::info([] { return std::string("hello"); });
  Log::warn([] { return std::string("careful"); });
  Log::error([] { return std::string("broken"); });
  ASSERT_EQ(capture.lines.size(), 3u);
  for (const auto& line : capture.lines) {
    // "HH:mm:ss.SSS " then the tag: digits and separators in fixed places.
    ASSERT_GE(line.size(), 19u);
    for (size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 9u, 10u, 11u}) EXPECT_TRUE(std::isdigit(line[i])) << line;
    EXPECT_EQ(line[2], ':');
    EXPECT_EQ(line[5], ':');
    EXPECT_EQ(line[8], '.');
    EXPECT_EQ(line.back(), '\n');
  }
  EXPECT_EQ(capture.lines[0].substr(12), " INFO  hello\n");
  EXPECT_EQ(capture.lines[1].substr(12), " WARN  careful\n");
  EXPECT_EQ(capture.lines[2].substr(12), " ERROR broken\n");
}

TEST(Log, DebugIsBuiltOnlyWhileVerbose) {
  test::LogCapture capture;
  for (const bool verbose : {false, true}) {
    Log::setVerbose(verbose);
    bool built = false;
    Log::debug([&] {
      built = true;
      return std::string("detail");
    });
    EXPECT_EQ(built, verbose);
  }
  Log::setVerbose(false);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"DEBUG detail"});
}

TEST(Log, ConcurrentLinesStayWhole) {
  RawCapture capture;
  const int perThread = 2000;
  auto writer = [&](char fill) {
    for (int i = 0; i < perThread; ++i) Log::info([&] { return std::string(64, fill); });
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  ASSERT_EQ(capture.lines.size(), 2u * perThread);
  for (const auto& line : capture.lines) {
    const std::string message = line.substr(19, 64);
    EXPECT_TRUE(message == std::string(64, 'a') || message == std::string(64, 'b')) << line;
    EXPECT_EQ(line.size(), 19u + 64u + 1u);
  }
}
