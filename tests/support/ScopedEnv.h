#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace oskel::test {

// Sets (or, with no value, unsets) an environment variable for a scope and
// restores what was there before. Re-reads TZ so time-zone tests can use it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    apply(value);
  }
  ScopedEnv(const char* name, const char* value)
      : ScopedEnv(name, value ? std::optional<std::string>(value) : std::nullopt) {}
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, std::optional<std::string>(value)) {}
  ~ScopedEnv() { apply(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
    ::tzset();
  }

  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace oskel::test
