#include "recording/CallRecorder.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <barrier>
#include <cmath>
#include <fstream>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "recording/WAV.h"
#include "support/LogCapture.h"
#include "support/RealtimeGuard.h"

namespace oskel {
namespace {

namespace fs = std::filesystem;
using test::ManualFlushPacer;
using test::TempFolder;

// A recorder into `path` in a fresh folder; the test releases its flushes.
class CallRecording : public ::testing::Test {
 protected:
  bool start(double leftRate, double rightRate, std::int64_t dataLimit = CallRecorder::maxDataBytes) {
    auto made = CallRecorder::create(path, leftRate, rightRate, {pacer, dataLimit});
    EXPECT_TRUE(made) << (made ? "" : made.error().description());
    recorder = made ? std::move(*made) : nullptr;
    return recorder != nullptr;
  }
  // Both channels' next `count` samples, then one flush: the frames in the file.
  std::int64_t feed(std::int64_t first, std::int64_t count) {
    recorder->writeLeft(test::block(test::leftSignal, first, count));
    recorder->writeRight(test::block(test::rightSignal, first, count));
    return pacer->flush();
  }

  TempFolder folder;
  test::LogCapture log;
  fs::path path = folder / "call.wav";
  std::shared_ptr<ManualFlushPacer> pacer = std::make_shared<ManualFlushPacer>();
  std::unique_ptr<CallRecorder> recorder;
};

// Compares `count` samples and reports only the first difference.
void expectSamples(const std::vector<std::int16_t>& actual, size_t from, const std::vector<std::int16_t>& expected,
                   size_t expectedFrom, size_t count, const std::string& what) {
  ASSERT_LE(from + count, actual.size()) << what;
  ASSERT_LE(expectedFrom + count, expected.size()) << what;
  for (size_t i = 0; i < count; ++i) {
    ASSERT_EQ(actual[from + i], expected[expectedFrom + i]) << what << ": first difference at frame " << from + i;
  }
}

void expectSilence(const std::vector<std::int16_t>& actual, size_t from, size_t count, const std::string& what) {
  expectSamples(actual, from, std::vector<std::int16_t>(count, 0), 0, count, what);
}

// Outputs of the recorder's resampler after the first `rounds` blocks.
size_t resampledCount(float (*signal)(std::int64_t), double rate, std::int64_t blockSize, int rounds) {
  return test::expectedChannel(signal, rate, blockSize * rounds, blockSize).size();
}

// Two device threads deliver 10 ms callbacks, 50 ms per round, at the rates of
// a 44.1 kHz playback device and a 16 kHz headset. The right device stops for
// 12 rounds and then comes back.
TEST_F(CallRecording, TwoDeviceThreadsAreRecordedSampleBySampleWithSilenceWhereOneStopped) {
  ASSERT_TRUE(start(44100, 16000));
  constexpr int rounds = 30;
  constexpr std::int64_t leftBlock = 2205, rightBlock = 800;  // one round
  const auto rightDelivers = [](int round) { return round < 10 || round >= 22; };

  std::barrier sync(3);
  const auto device = [&](auto write, float (*signal)(std::int64_t), std::int64_t callback, auto delivers) {
    std::int64_t next = 0;
    for (int round = 0; round < rounds; ++round) {
      for (int i = 0; delivers(round) && i < 5; ++i, next += callback) write(test::block(signal, next, callback));
      sync.arrive_and_wait();  // the round is delivered
      sync.arrive_and_wait();  // the flush is done
    }
  };
  std::thread left(device, [&](const std::vector<float>& b) { recorder->writeLeft(b); }, test::leftSignal,
                   leftBlock / 5, [](int) { return true; });
  std::thread right(device, [&](const std::vector<float>& b) { recorder->writeRight(b); }, test::rightSignal,
                    rightBlock / 5, rightDelivers);
  std::vector<std::int64_t> frames;
  for (int round = 0; round < rounds; ++round) {
    sync.arrive_and_wait();
    frames.push_back(pacer->flush());
    sync.arrive_and_wait();
  }
  left.join();
  right.join();
  const auto result = recorder->stop();

  // While both deliver, everything both have is written at once.
  for (int round = 0; round < 10; ++round) {
    EXPECT_EQ(frames[static_cast<size_t>(round)],
              std::min(resampledCount(test::leftSignal, 44100, leftBlock, round + 1),
                       resampledCount(test::rightSignal, 16000, rightBlock, round + 1)))
        << "round " << round;
  }
  // Then the file waits for the silent channel up to half a second ...
  for (int round = 10; round <= 18; ++round) EXPECT_EQ(frames[static_cast<size_t>(round)], frames[9]) << round;
  // ... and then fills it with silence and writes all of the left channel.
  const int padded = frames[19] != frames[9] ? 19 : 20;
  const auto silenceEnd = static_cast<size_t>(frames[static_cast<size_t>(padded)]);
  EXPECT_EQ(silenceEnd, resampledCount(test::leftSignal, 44100, leftBlock, padded + 1));
  EXPECT_GT(silenceEnd - frames[9], 24000u);

  const auto leftOut = test::expectedChannel(test::leftSignal, 44100, leftBlock * rounds, leftBlock);
  const auto rightOut = test::expectedChannel(test::rightSignal, 16000, rightBlock * 18, rightBlock);
  const size_t beforeGap = resampledCount(test::rightSignal, 16000, rightBlock, 10);
  const size_t afterGap = rightOut.size() - beforeGap;

  const auto file = test::readStereo(path);
  ASSERT_EQ(file.left.size(), leftOut.size());
  expectSamples(file.left, 0, leftOut, 0, leftOut.size(), "left");
  expectSamples(file.right, 0, rightOut, 0, beforeGap, "right before the gap");
  expectSilence(file.right, beforeGap, silenceEnd - beforeGap, "right during the gap");
  expectSamples(file.right, silenceEnd, rightOut, beforeGap, afterGap, "right after the gap");
  expectSilence(file.right, silenceEnd + afterGap, file.right.size() - silenceEnd - afterGap, "right at the end");

  EXPECT_EQ(result.duration, static_cast<double>(leftOut.size()) / 48000);
  EXPECT_EQ(result.bytes, static_cast<std::int64_t>(fs::file_size(path)));
}

TEST_F(CallRecording, ACallWhereTheOtherPartyNeverSpeaksHasASilentRightChannelAsLongAsTheLeft) {
  ASSERT_TRUE(start(48000, 44100));
  std::vector<std::int64_t> frames;
  for (int round = 0; round < 16; ++round) {
    recorder->writeLeft(test::block(test::leftSignal, round * 4800, 4800));  // 100 ms
    frames.push_back(pacer->flush());
  }
  EXPECT_EQ(frames[4], 0);   // 0.5 s behind is still tolerated
  EXPECT_GT(frames[15], 0);  // beyond that the file keeps growing
  const auto result = recorder->stop();

  const auto file = test::readStereo(path);
  ASSERT_EQ(file.left.size(), 16u * 4800u);
  ASSERT_EQ(file.right.size(), file.left.size());
  expectSamples(file.left, 0, test::expectedChannel(test::leftSignal, 48000, 16 * 4800, 4800), 0, 16 * 4800,
                "left");
  expectSilence(file.right, 0, file.right.size(), "right");
  EXPECT_DOUBLE_EQ(result.duration, 1.6);
}

TEST_F(CallRecording, TheFileIsAValidWavAfterEveryFlushAndAudioThreadsNeverTouchIt) {
  path = folder / "sub" / "dir" / "call.wav";  // intermediate folders are created
  ASSERT_TRUE(start(48000, 48000));

  auto file = test::readStereo(path);
  EXPECT_EQ(file.fileBytes, 44u);
  EXPECT_TRUE(file.standardHeader(48000));
  EXPECT_EQ(WAV::readLE32(file.header, 28), 192000u);  // the byte rate of two channels

  const auto left = test::block(test::leftSignal, 0, 480);
  const auto right = test::block(test::rightSignal, 0, 480);
  for (int flush = 1; flush <= 3; ++flush) {
    for (int callback = 0; callback < 10; ++callback) {
      EXPECT_REALTIME_SAFE(recorder->writeLeft(left));
      EXPECT_REALTIME_SAFE(recorder->writeRight(right.data(), right.size()));
    }
    EXPECT_EQ(fs::file_size(path), 44u + (flush - 1) * 4800u * 4u) << "written outside a flush";
    EXPECT_EQ(pacer->flush(), flush * 4800);
    file = test::readStereo(path);
    EXPECT_EQ(file.fileBytes, 44u + flush * 4800u * 4u);
    EXPECT_EQ(file.dataBytes, flush * 4800u * 4u);
    EXPECT_TRUE(file.standardHeader(48000));
    EXPECT_DOUBLE_EQ(recorder->duration(), flush * 0.1);
  }
  recorder->writeLeft(nullptr, 100);  // ignored, as are empty buffers
  recorder->writeRight(std::span<const float>());
  EXPECT_EQ(recorder->stop().bytes, 44 + 3 * 4800 * 4);
}

TEST_F(CallRecording, StopIsIdempotentFromAnyThreadAndADroppedRecorderFinishesTheFileItReplaced) {
  ASSERT_TRUE(start(16000, 44100));
  EXPECT_TRUE(log.contains("INFO  recording to " + path.string()));
  recorder->writeLeft(test::block(test::leftSignal, 0, 20000));
  recorder->writeRight(test::block(test::rightSignal, 0, 22050));

  CallRecorder::Result first, second;
  std::thread other([&] { first = recorder->stop(); });
  second = recorder->stop();
  other.join();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.url, path);
  EXPECT_EQ(first.bytes, static_cast<std::int64_t>(fs::file_size(path)));
  EXPECT_NEAR(first.duration, 1.25, 0.001);  // the longer channel, 20000 samples at 16 kHz
  EXPECT_EQ(log.count("recording saved: "), 1u);
  EXPECT_TRUE(log.contains(fmt::format("INFO  recording saved: {}, 1.2s", path.string())) ||
              log.contains(fmt::format("INFO  recording saved: {}, 1.3s", path.string())));

  recorder->writeLeft(test::block(test::leftSignal, 0, 4800));  // a finished recorder writes nothing more
  EXPECT_EQ(recorder->stop(), first);
  EXPECT_EQ(first.bytes, static_cast<std::int64_t>(fs::file_size(path)));

  pacer = std::make_shared<ManualFlushPacer>();
  ASSERT_TRUE(start(48000, 48000));
  recorder->writeLeft(test::block(test::leftSignal, 0, 960));
  recorder.reset();
  const auto file = test::readStereo(path);
  EXPECT_EQ(file.left.size(), 960u);
  EXPECT_EQ(file.fileBytes, 44u + 960u * 4u);  // nothing of the old file is left
}

// A file that cannot be created, a full disk, or a folder that refuses writes.
TEST_F(CallRecording, WhatCannotBeWrittenIsAClearErrorAtStart) {
  std::ofstream(folder / "plain") << "not a folder";
  auto underFile = CallRecorder::create(folder / "plain" / "x" / "call.wav", 48000, 48000);
  ASSERT_FALSE(underFile);
  EXPECT_NE(underFile.error().description().find("could not create the folder"), std::string::npos)
      << underFile.error().description();

  for (double rate : {0.0, -44100.0, std::nan(""), 1e9}) {
    auto bad = CallRecorder::create(folder / "rate.wav", rate, 48000);
    ASSERT_FALSE(bad) << rate;
    EXPECT_NE(bad.error().description().find("unsupported sample rate"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(folder / "rate.wav"));

  if (access("/dev/full", W_OK) == 0) {
    auto full = CallRecorder::create("/dev/full", 48000, 48000);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().code, std::errc::no_space_on_device);
    EXPECT_NE(full.error().description().find("/dev/full"), std::string::npos);
    EXPECT_TRUE(fs::exists("/dev/full"));  // never removed: it was not ours
  }

  fs::path refusing = folder / "locked";
  fs::create_directory(refusing);
  fs::permissions(refusing, fs::perms::owner_read | fs::perms::owner_exec);
  if (geteuid() == 0) {
    // Permissions do not bind the super-user; sysfs refuses new files to anyone.
    if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no folder refuses the super-user here";
    refusing = "/sys/kernel";
  }
  for (const auto& inside : {refusing / "call.wav", refusing / "Oskel Recordings" / "call.wav"}) {
    auto refused = CallRecorder::create(inside, 48000, 48000);
    ASSERT_FALSE(refused) << inside;
    EXPECT_NE(refused.error().description().find(inside.parent_path().string()), std::string::npos)
        << refused.error().description();
    EXPECT_FALSE(fs::exists(inside));
  }
  fs::permissions(folder / "locked", fs::perms::owner_all);
}

// The file size limit makes writes fail the way a full disk does, partway
// through a flush.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previousHandler_(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    lift();
    signal(SIGXFSZ, previousHandler_);
  }
  void lift() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  sighandler_t previousHandler_;
  rlimit saved_{};
};

TEST_F(CallRecording, WriteErrorsAreLoggedOnceAndTheFileKeepsItsLastGoodFlushOrItsSizeLimit) {
  ASSERT_TRUE(start(48000, 48000));
  FileSizeLimit limit(44 + 4800 * 4 + 2);  // room for one flush and half a frame
  EXPECT_EQ(feed(0, 4800), 4800);
  EXPECT_EQ(feed(4800, 4800), 4800);  // the disk is full now
  EXPECT_EQ(feed(9600, 4800), 4800);
  EXPECT_EQ(log.count("ERROR recording write failed: "), 1u);
  EXPECT_EQ(fs::file_size(path), 44u + 4800u * 4u) << "a partial write must not stay behind";

  limit.lift();  // space again
  EXPECT_EQ(feed(14400, 4800), 9600);
  EXPECT_TRUE(log.contains("recording writes resumed after 2 failed flushes"));
  const auto result = recorder->stop();
  EXPECT_EQ(result.bytes, static_cast<std::int64_t>(fs::file_size(path)));

  // The lost flushes leave a gap in time, but every frame is whole and aligned.
  const auto file = test::readStereo(path);
  ASSERT_EQ(file.left.size(), 9600u);
  const auto left = test::expectedChannel(test::leftSignal, 48000, 19200, 4800);
  const auto right = test::expectedChannel(test::rightSignal, 48000, 19200, 4800);
  expectSamples(file.left, 0, left, 0, 4800, "left, first flush");
  expectSamples(file.left, 4800, left, 14400, 4800, "left, after the failures");
  expectSamples(file.right, 4800, right, 14400, 4800, "right, after the failures");
  ASSERT_TRUE(WAV::read(path));

  // A file at the WAV size limit stops growing instead of corrupting its header.
  path = folder / "long.wav";
  pacer = std::make_shared<ManualFlushPacer>();
  ASSERT_TRUE(start(48000, 48000, 1000 * 4 + 3));
  for (int i = 0; i < 3; ++i) feed(i * 480, 480);
  EXPECT_EQ(recorder->stop().bytes, 44 + 1000 * 4);
  EXPECT_EQ(test::readStereo(path).dataBytes, 4000u);
  EXPECT_EQ(fs::file_size(path), 4044u);
  EXPECT_EQ(log.count("ERROR recording write failed: "), 2u);
}

TEST_F(CallRecording, AWriterThatFallsThirtySecondsBehindLosesTheOldestAudioAndSaysSo) {
  ASSERT_TRUE(start(16000, 16000));
  const auto second = test::block(test::leftSignal, 0, 16000);
  for (int i = 0; i < 31; ++i) recorder->writeLeft(second);
  const auto result = recorder->stop();
  EXPECT_DOUBLE_EQ(result.duration, 30.0);
  EXPECT_TRUE(log.contains("WARN  recording lost 16000 left and 0 right samples"));
}

}  // namespace
}  // namespace oskel
