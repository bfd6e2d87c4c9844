#include <regex>
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
  const char* expected[] = {"INFO  hello", "WARN  careful", "ERROR broken"};
  for (size_t i = 0; i < 3; ++i) {
    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d )" + std::string(expected[i]) + "\n");
    EXPECT_TRUE(std::regex_match(capture.lines[i], line)) << capture.lines[i];
  }
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
