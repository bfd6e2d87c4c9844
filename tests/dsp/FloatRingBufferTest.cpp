#include "dsp/FloatRingBuffer.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>


namespace oskel {
namespace {

std::vector<float> ramp(int n, float start = 1.0f) {
  std::vector<float> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = start + static_cast<float>(i);
  return v;
}

TEST(FloatRingBuffer, CapacityBelowOneBecomesOneAndAShortReadZeroFillsTheTail) {
  for (int64_t requested : {0, -7}) {
    FloatRingBuffer ring(requested);
    EXPECT_EQ(ring.capacity(), 1);
    ring.write(ramp(3));
    EXPECT_EQ(ring.drain(10), std::vector<float>{3.0f});
  }
  FloatRingBuffer ring(8);
  ring.write(ramp(2));
  std::vector<float> out(5, 42.0f);
  EXPECT_EQ(ring.read(out), 2);
  EXPECT_EQ(out, (std::vector<float>{1, 2, 0, 0, 0}));
  EXPECT_EQ(ring.read(nullptr, 5), 0);
  EXPECT_EQ(ring.read(out.data(), 0), 0);
}

TEST(FloatRingBuffer, OverflowKeepsTheNewestAndCountsOnlyStoredSamplesDropped) {
  FloatRingBuffer ring(4);
  ring.write(ramp(10));  // over-long write: the ignored input is not "dropped"
  EXPECT_EQ(ring.available(), 4);
  EXPECT_EQ(ring.droppedFrames(), 0);
  EXPECT_EQ(ring.drain(4), (std::vector<float>{7, 8, 9, 10}));

  ring.write(ramp(3, 1));
  ring.write(ramp(3, 11));  // holds 3, writes 3: the 2 oldest go
  EXPECT_EQ(ring.droppedFrames(), 2);
  EXPECT_EQ(ring.available(), 4);
  EXPECT_EQ(ring.drain(4), (std::vector<float>{3, 11, 12, 13}));
}

TEST(FloatRingBuffer, SkipClearAndDrainBookkeeping) {
  FloatRingBuffer ring(8);
  ring.write(ramp(3));
  ring.skip(10);  // only the stored 3 count
  EXPECT_EQ(ring.available(), 0);
  EXPECT_EQ(ring.droppedFrames(), 3);
  ring.skip(-1);
  EXPECT_EQ(ring.droppedFrames(), 3);

  ring.write(ramp(5));
  ring.clear();
  EXPECT_EQ(ring.available(), 0);
  EXPECT_EQ(ring.droppedFrames(), 3);
  ring.write(ramp(2, 20));
  EXPECT_EQ(ring.drain(0), std::vector<float>{});
  EXPECT_EQ(ring.drain(1), std::vector<float>{20});
  EXPECT_EQ(ring.drain(5), std::vector<float>{21});
  EXPECT_EQ(ring.drain(5), std::vector<float>{});
}

// A producer and a consumer on two threads: whatever the consumer gets is the
// producer's sequence in order, and nothing is lost without being counted.
TEST(FloatRingBuffer, ConcurrentWriterAndReaderKeepOrderAndAccount) {
  FloatRingBuffer ring(256);
  constexpr int blocks = 4000;
  constexpr int blockSize = 37;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    std::vector<float> block(blockSize);
    float next = 1.0f;
    for (int b = 0; b < blocks; ++b) {
      for (auto& x : block) x = next++;
      ring.write(block);
    }
    done = true;
  });
  int64_t received = 0;
  float last = 0.0f;
  bool ordered = true;
  std::vector<float> out(50);
  while (true) {
    const bool finished = done.load();
    const int64_t got = ring.read(out);
    for (int64_t i = 0; i < got; ++i) {
      ordered = ordered && out[static_cast<size_t>(i)] > last;
      last = out[static_cast<size_t>(i)];
    }
    received += got;
    if (finished && got == 0) break;
  }
  producer.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last, static_cast<float>(blocks * blockSize));
  EXPECT_EQ(received + ring.droppedFrames(), int64_t{blocks} * blockSize);
}

}  // namespace
}  // namespace oskel
