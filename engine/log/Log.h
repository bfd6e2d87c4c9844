#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

// Process-wide, line-oriented log: "HH:mm:ss.SSS LEVEL message". Messages are
// deferred callables so a line that is not written is never built.
namespace oskel::Log {

enum class Level { info, warn, error, debug };

// Five-character tag of a level, as written in the line.
std::string_view tag(Level level);

bool verbose();
void setVerbose(bool on);

// Where whole lines go (each ends with '\n'). Empty means standard error.
// Returns the previous sink so a caller can restore it.
using Sink = std::function<void(std::string_view line)>;
Sink setSink(Sink sink);

// Formats and writes one whole line under the log's lock.
void write(Level level, std::string_view message);

template <class MakeMessage>
void info(MakeMessage&& make) { write(Level::info, std::forward<MakeMessage>(make)()); }

template <class MakeMessage>
void warn(MakeMessage&& make) { write(Level::warn, std::forward<MakeMessage>(make)()); }

template <class MakeMessage>
void error(MakeMessage&& make) { write(Level::error, std::forward<MakeMessage>(make)()); }

// The message is only built while verbose logging is on.
template <class MakeMessage>
void debug(MakeMessage&& make) {
  if (verbose()) write(Level::debug, std::forward<MakeMessage>(make)());
}

}  // namespace oskel::Log
