#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "Release.h"

namespace oskel::update {

struct Idle {
  bool operator==(const Idle&) const = default;
};
struct Checking {
  bool operator==(const Checking&) const = default;
};
struct UpToDate {
  bool operator==(const UpToDate&) const = default;
};
struct Available {
  Release release;
  bool operator==(const Available&) const = default;
};
struct Downloading {
  Release release;
  std::uint64_t received = 0;
  std::uint64_t total = 0;
  bool operator==(const Downloading&) const = default;
};
struct Verifying {
  Release release;
  bool operator==(const Verifying&) const = default;
};
struct Installing {
  Release release;
  bool operator==(const Installing&) const = default;
};
struct Relaunching {
  Release release;
  bool operator==(const Relaunching&) const = default;
};
struct Failed {
  std::optional<Release> release;
  std::string message;
  bool operator==(const Failed&) const = default;
};

using State = std::variant<Idle, Checking, UpToDate, Available, Downloading, Verifying, Installing, Relaunching, Failed>;

// The release the state carries, if any.
std::optional<Release> releaseOf(const State& state);

// While the package is downloaded, verified or installed, or the application
// restarts: no new check, and the update window cannot be closed.
bool isBusy(const State& state);

}  // namespace oskel::update
