#include "UpdaterState.h"

namespace oskel::update {

std::optional<Release> releaseOf(const State& state) {
  return std::visit(
      [](const auto& s) -> std::optional<Release> {
        if constexpr (requires { s.release; }) {
          return s.release;
        } else {
          return std::nullopt;
        }
      },
      state);
}

bool isBusy(const State& state) {
  return std::holds_alternative<Downloading>(state) || std::holds_alternative<Verifying>(state) ||
         std::holds_alternative<Installing>(state) || std::holds_alternative<Relaunching>(state);
}

}  // namespace oskel::update
