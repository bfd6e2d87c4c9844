#include "dsp/LinearResampler.h"

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>


namespace oskel {
namespace {

std::vector<float> run(LinearResampler& r, const std::vector<float>& input) {
  std::vector<float> out(static_cast<size_t>(r.maxOutput(static_cast<int64_t>(input.size()))));
  out.resize(static_cast<size_t>(
      r.process(input.data(), static_cast<int64_t>(input.size()), out.data(), static_cast<int64_t>(out.size()))));
  return out;
}

TEST(LinearResampler, InterpolatesFromThePreviousSampleAcrossBlocksUntilReset) {
  LinearResampler down(48000, 24000);
  EXPECT_EQ(run(down, {1, 2, 3, 4}), (std::vector<float>{0, 2}));
  EXPECT_EQ(down.position(), 0.0);
  EXPECT_EQ(down.previous(), 4.0f);
  EXPECT_EQ(run(down, {5, 6, 7, 8}), (std::vector<float>{4, 6}));

  LinearResampler up(24000, 48000);
  EXPECT_EQ(run(up, {1, 1}), (std::vector<float>{0, 0.5f, 1, 1}));
  EXPECT_EQ(up.position(), 0.0);
  run(up, {1, 1, 1});
  up.reset();  // forgets the last block
  EXPECT_EQ(run(up, {1, 1}), (std::vector<float>{0, 0.5f, 1, 1}));
  EXPECT_EQ(up.position(), 0.0);
}

TEST(LinearResampler, OutputSpaceAndIdentity) {
  EXPECT_EQ(LinearResampler(24000, 48000).maxOutput(480), 962);
  EXPECT_EQ(LinearResampler(48000, 24000).maxOutput(480), 242);

  LinearResampler same(44100, 44100);
  EXPECT_TRUE(same.isIdentity());
  float out[2];
  const float in[3] = {0.1f, 0.2f, 0.3f};
  EXPECT_EQ(same.process(in, 3, out, 2), 2);  // limited by the space given
  EXPECT_EQ(out[1], 0.2f);
  EXPECT_EQ(same.previous(), 0.3f);

  LinearResampler almost(44100, 44100.0001);
  EXPECT_FALSE(almost.isIdentity());
  EXPECT_EQ(run(almost, {0.5f, 0.5f})[0], 0.0f);  // interpolated from the (zero) previous sample
}

// Whatever the block sizes, the stream is the same as one long block, and the
// number of outputs follows the rate ratio.
TEST(LinearResampler, BlocksJoinWithoutASeam) {
  for (const auto& [from, to] : {std::pair{44100.0, 48000.0}, {48000.0, 44100.0}, {48000.0, 24000.0}, {16000.0, 48000.0}}) {
    std::vector<float> signal(20000);
    for (size_t i = 0; i < signal.size(); ++i)
      signal[i] = static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * double(i) / from));
    LinearResampler whole(from, to);
    const auto reference = run(whole, signal);

    LinearResampler blocks(from, to);
    std::vector<float> streamed;
    std::mt19937 rng(3);
    for (size_t at = 0; at < signal.size();) {
      const size_t n = std::min<size_t>(1 + rng() % 700, signal.size() - at);
      const auto part = run(blocks, std::vector<float>(signal.begin() + long(at), signal.begin() + long(at + n)));
      streamed.insert(streamed.end(), part.begin(), part.end());
      at += n;
    }
    ASSERT_EQ(streamed.size(), reference.size()) << from << "->" << to;
    for (size_t i = 0; i < reference.size(); ++i) ASSERT_NEAR(streamed[i], reference[i], 1e-5) << i;
    EXPECT_NEAR(double(reference.size()), double(signal.size()) * to / from, 1.0);
  }
}

}  // namespace
}  // namespace oskel
