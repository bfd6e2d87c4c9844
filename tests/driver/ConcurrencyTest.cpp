// The audio server calls the driver from many threads at once: clients come
// and go, properties are read and set and time stamps taken while one IO
// thread per device moves audio through the ring without any lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "HostSimulator.h"

namespace oskel::driver_test {
namespace {

TEST(DriverConcurrency, ClientsComeAndGoWhileAudioFlows) {
  HostSimulator host;
  ASSERT_EQ(host.initialize(), 0);
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);  // holds IO open throughout

  constexpr int kWorkers = 5;
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::atomic<int> busyWorkers{0};  // workers that have done their share of rounds
  std::thread io([&] {
    std::vector<float> written(2 * 256), heard(2 * 256);
    for (int cycle = 0; cycle < 2000 || busyWorkers < kWorkers; ++cycle) {
      const Float64 time = 256.0 * cycle;
      for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<float>(cycle) + static_cast<float>(i);
      host.writeAt(kMicrophone, time, written);
      host.readAt(kMicrophone, time, heard);
      if (heard != written) ++mismatches;
    }
    stop = true;
  });

  std::vector<std::thread> clients;
  for (UInt32 client = 2; client < 2 + kWorkers - 1; ++client) {
    clients.emplace_back([&, client] {
      const AudioObjectPropertyAddress running{kAudioDevicePropertyDeviceIsRunning, kGlobal, 0};
      for (int round = 0; !stop; ++round) {
        if (round == 200) ++busyWorkers;
        EXPECT_EQ(host.startIO(kMicrophone, client), 0);
        UInt32 value = 0, size = 0;
        host.call().GetPropertyData(host.driver(), kMicrophone, 0, &running, 0, nullptr, sizeof value, &size, &value);
        EXPECT_EQ(value, 1u);
        EXPECT_EQ(host.stopIO(kMicrophone, client), 0);
        host.call().AddRef(host.driver());
        host.call().Release(host.driver());
      }
    });
  }
  std::thread setter([&] {
    const UInt32 off = 0, on = 1;
    for (int i = 0; !stop; ++i) {
      if (i == 200) ++busyWorkers;
      host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, i % 2 ? on : off);
      host.set(kSpeaker, kAudioDevicePropertyNominalSampleRate, 44100.0);
      (void)host.get<Float64>(kSpeaker, kAudioDevicePropertyNominalSampleRate);
    }
  });

  io.join();
  for (auto& client : clients) client.join();
  setter.join();

  EXPECT_EQ(mismatches.load(), 0) << "joining clients must not disturb the ring";
  EXPECT_EQ(host.get<UInt32>(kMicrophone, kAudioDevicePropertyDeviceIsRunning).value(), 1u);
  EXPECT_EQ(host.stopIO(kMicrophone, 1), 0);
  EXPECT_EQ(host.stopIO(kMicrophone, 1), kAudioHardwareIllegalOperationError);

  host.runGlobalQueue();
  EXPECT_FALSE(host.configurationRequests.empty());
  EXPECT_EQ(host.performRequestedChanges(), 0);
  EXPECT_EQ(host.get<Float64>(kSpeaker, kAudioDevicePropertyNominalSampleRate).value(), 44100.0);
}

TEST(DriverConcurrency, TimeStampsNeverGoBackwardsOnAnyThread) {
  HostSimulator host;
  ASSERT_EQ(host.initialize(), 0);
  ASSERT_EQ(host.startIO(kSpeaker, 1), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> backwards{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      Float64 last = 0;
      while (!stop) {
        const ZeroTimeStamp stamp = host.zeroTimeStamp(kSpeaker);
        if (stamp.sampleTime < last || std::fmod(stamp.sampleTime, 16384.0) != 0.0) ++backwards;
        last = stamp.sampleTime;
      }
    });
  }
  for (int step = 0; step < 3000; ++step) host.advanceFrames(1000, 48000.0);
  stop = true;
  for (auto& reader : readers) reader.join();

  EXPECT_EQ(backwards.load(), 0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 183 * 16384.0);  // 3,000,000 frames
}

}  // namespace
}  // namespace oskel::driver_test
