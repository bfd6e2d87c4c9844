#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "UpdaterState.h"
#include "orchestration/TranslatorVocabulary.h"

// The words the windows, menus and tray show for a state. Plain functions of
// the state so every window says the same thing.
namespace oskel::views {

// starting, connecting, live, reconnecting, passthrough, stopping.
bool isRunning(const TranslatorState& state);

// The status pill: "Off", "Starting", ..., "Error".
std::string statusLabel(const TranslatorState& state);

// "Start Translating" or "Stop Translating".
std::string translateTitle(const TranslatorState& state);
// "Record Call" or "Stop Recording".
std::string recordMenuTitle(bool recording);

// The tray badge: "…" while the call is being set up, restarting or stopping,
// "LIVE", "DIRECT", or empty when nothing runs.
std::string badge(const TranslatorState& state, bool callRestarting);
// "Oskel", or "Oskel — LIVE" with a badge: where the desktop has no tray the
// window title carries the badge.
std::string windowTitle(const TranslatorState& state, bool callRestarting);

// "%d:%02d:%02d" from one hour on, "%d:%02d" below.
std::string elapsed(std::int64_t seconds);

// The update banner's text; none when the updater has nothing to say.
std::optional<std::string> bannerText(const update::State& state, bool callRunning);
// The update window's title and detail line.
std::string progressTitle(const update::State& state);
std::string progressDetail(const update::State& state);
// "%.1f MB".
std::string megabytes(std::uint64_t bytes);

}  // namespace oskel::views
