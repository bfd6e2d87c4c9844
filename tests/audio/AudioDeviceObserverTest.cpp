#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioDeviceObserver.h"

using namespace oskel;
using test::simDevice;

TEST(AudioDeviceObserver, CallsTheHandlerOnDeviceAndDefaultChangesUntilDestroyedEvenByItself) {
  auto host = SimulatedAudioHost::make();
  int calls = 0;
  auto observer = std::make_unique<AudioDeviceObserver>(host, [&] { ++calls; });

  const auto mic = host->add(simDevice("Mic", "Mic_UID", 1, 0));
  EXPECT_EQ(calls, 1);
  host->setDefault(AudioScope::input, mic);
  EXPECT_EQ(calls, 2);
  host->setDefault(AudioScope::output, std::nullopt);
  EXPECT_EQ(calls, 3);
  // Removing the default input changes the list and the default: one call each.
  host->remove(mic);
  EXPECT_EQ(calls, 5);
  // Rate changes are not catalogue changes.
  const auto speaker = host->add(simDevice("Speaker", "Speaker_UID", 0, 2));
  host->setNominalRate(speaker, 44100);
  EXPECT_EQ(calls, 6);

  observer.reset();
  host->add(simDevice("Late", "Late_UID", 1, 0));
  EXPECT_EQ(calls, 6);

  // A handler may drop its own observer (the application replacing it).
  observer = std::make_unique<AudioDeviceObserver>(host, [&] {
    ++calls;
    observer.reset();
  });
  host->add(simDevice("Mic", "Mic_UID", 1, 0));
  host->add(simDevice("Other", "Other_UID", 1, 0));
  EXPECT_EQ(calls, 7);
}

TEST(AudioDeviceObserver, RunsTheHandlerThroughTheGivenExecutorAndNotAfterDestruction) {
  auto host = SimulatedAudioHost::make();
  std::vector<std::function<void()>> queue;
  int calls = 0;
  auto observer = std::make_unique<AudioDeviceObserver>(
      host, [&] { ++calls; }, [&](std::function<void()> task) { queue.push_back(std::move(task)); });

  host->add(simDevice("Mic", "Mic_UID", 1, 0));
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(queue.size(), 1u);
  queue[0]();
  EXPECT_EQ(calls, 1);

  host->add(simDevice("Other", "Other_UID", 1, 0));
  ASSERT_EQ(queue.size(), 2u);
  observer.reset();
  queue[1]();  // queued before the observer went away
  EXPECT_EQ(calls, 1);
}

// Destroying an observer while another thread is notifying waits for a
// running handler and leaves none running afterwards.
TEST(AudioDeviceObserver, DestructionRacesWithNotificationsSafely) {
  auto host = SimulatedAudioHost::make();
  const auto device = host->add(simDevice("Mic", "Mic_UID", 1, 0));
  std::atomic<bool> done{false};
  std::thread changer([&] {
    while (!done.load()) host->setDefault(AudioScope::input, device);
  });
  for (int round = 0; round < 200; ++round) {
    auto alive = std::make_shared<std::atomic<bool>>(true);
    std::atomic<int> lateCalls{0};
    {
      AudioDeviceObserver observer(host, [alive, &lateCalls] {
        if (!alive->load()) ++lateCalls;
      });
      std::this_thread::yield();
    }
    alive->store(false);
    std::this_thread::yield();
    EXPECT_EQ(lateCalls.load(), 0);
  }
  done = true;
  changer.join();
}
