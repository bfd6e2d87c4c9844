#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <span>
#include <vector>

namespace oskel::bench {

// Values noted by one real-time thread in room reserved up front, so noting
// neither allocates nor locks; what does not fit is dropped. Readers see what
// was published before the count they read.
template <class T>
class RealtimeLog {
 public:
  explicit RealtimeLog(size_t capacity = 4096) : values_(capacity) {}

  void add(const T& value) { add(std::span<const T>(&value, 1)); }
  void add(std::span<const T> values) {
    const size_t at = count_.load(std::memory_order_relaxed);
    const size_t n = std::min(values.size(), values_.size() - at);
    std::copy_n(values.begin(), n, values_.begin() + static_cast<std::ptrdiff_t>(at));
    count_.store(at + n, std::memory_order_release);
  }
  size_t size() const { return count_.load(std::memory_order_acquire); }
  std::span<const T> view(size_t from, size_t to) const { return {values_.data() + from, to - from}; }
  std::vector<T> all() const { return {values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(size())}; }

 private:
  std::vector<T> values_;
  std::atomic<size_t> count_{0};
};

}  // namespace oskel::bench
