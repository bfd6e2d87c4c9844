#include "support/LogCapture.h"

#include <algorithm>

namespace oskel::test {

LogCapture::LogCapture() {
  previous_ = Log::setSink([this](std::string_view line) {
    // "HH:mm:ss.SSS " is 13 characters; drop it and the trailing newline.
    std::string_view rest = line.size() > 13 ? line.substr(13) : line;
    if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
    std::lock_guard guard(mutex_);
    lines_.emplace_back(rest);
  });
}

LogCapture::~LogCapture() { Log::setSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard guard(mutex_);
  return lines_;
}

bool LogCapture::contains(const std::string& fragment) const { return count(fragment) > 0; }

size_t LogCapture::count(const std::string& fragment) const {
  std::lock_guard guard(mutex_);
  return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
    return line.find(fragment) != std::string::npos;
  }));
}

void LogCapture::clear() {
  std::lock_guard guard(mutex_);
  lines_.clear();
}

}  // namespace oskel::test
