#pragma once

#include <cmath>
#include <cstdint>
#include <span>

namespace oskel::bench {

// Finds where loud sound begins in a stream of blocks: a sample above the
// threshold after at least `quietSeconds` of samples below it. Allocates
// nothing, so it may run on an audio thread.
class OnsetFinder {
 public:
  OnsetFinder(double sampleRate, float threshold, double quietSeconds)
      : threshold_(threshold), quietNeeded_(static_cast<int64_t>(quietSeconds * sampleRate)), quiet_(quietNeeded_) {}

  // Calls onOnset(i) for each onset at index i of the block.
  template <class OnOnset>
  void scan(std::span<const float> block, OnOnset&& onOnset) {
    for (size_t i = 0; i < block.size(); ++i) {
      if (std::abs(block[i]) <= threshold_) {
        ++quiet_;
        continue;
      }
      if (quiet_ >= quietNeeded_) onOnset(i);
      quiet_ = 0;
    }
  }

 private:
  float threshold_;
  int64_t quietNeeded_;
  int64_t quiet_;
};

}  // namespace oskel::bench
