#include "StateTexts.h"

#include <fmt/format.h>

namespace oskel::views {

namespace TS = TranslatorStates;

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};

}  // namespace

bool isRunning(const TranslatorState& state) {
  return !std::holds_alternative<TS::Idle>(state) && !std::holds_alternative<TS::Failed>(state);
}

std::string statusLabel(const TranslatorState& state) {
  return std::visit(Overloaded{
                        [](const TS::Idle&) { return "Off"; },
                        [](const TS::Starting&) { return "Starting"; },
                        [](const TS::Connecting&) { return "Connecting"; },
                        [](const TS::Live&) { return "Live"; },
                        [](const TS::Reconnecting&) { return "Reconnecting"; },
                        [](const TS::Passthrough&) { return "Direct"; },
                        [](const TS::Stopping&) { return "Stopping"; },
                        [](const TS::Failed&) { return "Error"; },
                    },
                    state);
}

std::string translateTitle(const TranslatorState& state) {
  return isRunning(state) ? "Stop Translating" : "Start Translating";
}

std::string recordMenuTitle(bool recording) { return recording ? "Stop Recording" : "Record Call"; }

std::string badge(const TranslatorState& state, bool callRestarting) {
  if (!isRunning(state)) return "";
  if (callRestarting) return "…";
  if (std::holds_alternative<TS::Live>(state)) return "LIVE";
  if (std::holds_alternative<TS::Passthrough>(state)) return "DIRECT";
  return "…";
}

std::string windowTitle(const TranslatorState& state, bool callRestarting) {
  const std::string mark = badge(state, callRestarting);
  return mark.empty() ? "Oskel" : "Oskel — " + mark;
}

std::string elapsed(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds >= 3600) return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return fmt::format("{}:{:02}", seconds / 60, seconds % 60);
}

std::string megabytes(std::uint64_t bytes) {
  return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1'000'000.0);
}

std::optional<std::string> bannerText(const update::State& state, bool callRunning) {
  using namespace update;
  return std::visit(Overloaded{
                        [&](const Available& s) -> std::optional<std::string> {
                          return callRunning ? fmt::format("Oskel {} is available — finish your call to install",
                                                           s.release.version)
                                             : fmt::format("Oskel {} is available", s.release.version);
                        },
                        [](const Downloading& s) -> std::optional<std::string> {
                          return fmt::format("Downloading Oskel {}…", s.release.version);
                        },
                        [](const Installing& s) -> std::optional<std::string> {
                          return fmt::format("Installing Oskel {}…", s.release.version);
                        },
                        [](const Failed& s) -> std::optional<std::string> {
                          // A failure before any release is known (a feed that
                          // cannot be used) still needs saying.
                          return fmt::format("Oskel {} — update failed", s.release ? s.release->version : "");
                        },
                        [](const auto&) -> std::optional<std::string> { return std::nullopt; },
                    },
                    state);
}

std::string progressTitle(const update::State& state) {
  using namespace update;
  return std::visit(Overloaded{
                        [](const Available& s) { return fmt::format("Oskel {} is ready to download", s.release.version); },
                        [](const Downloading&) { return std::string("Downloading update…"); },
                        [](const Verifying&) { return std::string("Verifying update…"); },
                        [](const Installing&) { return std::string("Installing update…"); },
                        [](const Relaunching&) { return std::string("Restarting Oskel…"); },
                        [](const Failed&) { return std::string("Update failed"); },
                        [](const UpToDate&) { return std::string("Oskel is up to date"); },
                        [](const auto&) { return std::string("Checking for updates…"); },
                    },
                    state);
}

std::string progressDetail(const update::State& state) {
  using namespace update;
  return std::visit(Overloaded{
                        [](const Downloading& s) {
                          return fmt::format("{} of {}", megabytes(s.received), megabytes(s.total));
                        },
                        [](const Verifying&) { return std::string("Checking the file's signature."); },
                        [](const Installing&) { return std::string("The system will ask for your password."); },
                        [](const Relaunching&) { return std::string("Oskel will reopen in a moment."); },
                        [](const Failed& s) { return s.message; },
                        [](const auto&) { return std::string(); },
                    },
                    state);
}

}  // namespace oskel::views
