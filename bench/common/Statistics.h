#pragma once

#include <algorithm>
#include <vector>

namespace oskel::bench {

// The value a share `p` of the values lie below (0 when there are none).
inline double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::ranges::sort(values);
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

inline double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

// For every time in `from`, the delay in ms to the first time in `to` (sorted)
// at or after it, within `within` seconds; an event seen twice or missed on
// the way does not shift the pairs.
inline std::vector<double> delaysMs(const std::vector<double>& from, const std::vector<double>& to, double within) {
  std::vector<double> out;
  for (double t : from) {
    const auto next = std::ranges::lower_bound(to, t);
    if (next != to.end() && *next - t < within) out.push_back((*next - t) * 1000.0);
  }
  return out;
}

}  // namespace oskel::bench
