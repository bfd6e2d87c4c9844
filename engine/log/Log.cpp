#include "log/Log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <fmt/format.h>

namespace oskel::Log {
namespace {

std::atomic<bool> verboseFlag{false};

struct State {
  std::mutex lock;
  Sink sink;
};

State& state() {
  static State s;
  return s;
}

std::string timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto t = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&t, &local);
  return fmt::format("{:02}:{:02}:{:02}.{:03}", local.tm_hour, local.tm_min, local.tm_sec, millis);
}

}  // namespace

std::string_view tag(Level level) {
  switch (level) {
    case Level::info: return "INFO ";
    case Level::warn: return "WARN ";
    case Level::error: return "ERROR";
    case Level::debug: return "DEBUG";
  }
  return "INFO ";
}

bool verbose() { return verboseFlag.load(std::memory_order_relaxed); }
void setVerbose(bool on) { verboseFlag.store(on, std::memory_order_relaxed); }

Sink setSink(Sink sink) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  return std::exchange(s.sink, std::move(sink));
}

void write(Level level, std::string_view message) {
  std::string line = fmt::format("{} {} {}\n", timestamp(), tag(level), message);
  auto& s = state();
  std::lock_guard guard(s.lock);
  if (s.sink) {
    s.sink(line);
  } else {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace oskel::Log
