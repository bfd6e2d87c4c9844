#pragma once

#include <chrono>
#include <limits>

namespace oskel {

// A wall-clock instant in (fractional) seconds since the system clock's epoch.
// A std::chrono::system_clock::time_point converts to it implicitly; injected
// test clocks build one from plain seconds. Differences are seconds as double.
using WallTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

// Earlier than any real instant: the time since it is +infinity.
inline constexpr WallTime distantPast{std::chrono::duration<double>(-std::numeric_limits<double>::infinity())};

inline WallTime wallTimeAt(double seconds) { return WallTime{std::chrono::duration<double>(seconds)}; }

// later - earlier, in seconds.
inline double secondsBetween(WallTime earlier, WallTime later) { return (later - earlier).count(); }

}  // namespace oskel
