#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppModel.h"
#include "ScriptedOrchestrator.h"
#include "audio/AudioDevices.h"
#include "concurrency/ManualClock.h"

namespace oskel::testing {

// The main queue of a test: tasks run on the test's thread whenever the
// manual clock settles or advances past them.
class ManualMainQueue final : public MainQueue, public TimedExecutor {
 public:
  static std::shared_ptr<ManualMainQueue> make(std::shared_ptr<ManualClock> clock);

  void post(Task task) override;
  Timer schedule(Clock::Duration delay, Task task) override;
  Clock& clock() override { return *clock_; }

  void timeChanged() override {}
  std::optional<TimePoint> nextDeadline() override;
  void waitUntilIdle() override;

 private:
  struct Entry {
    TimePoint due;
    std::uint64_t order;
    Task task;
    std::shared_ptr<std::atomic<bool>> cancelled;
  };
  explicit ManualMainQueue(std::shared_ptr<ManualClock> clock) : clock_(std::move(clock)) {}

  std::shared_ptr<ManualClock> clock_;
  std::mutex lock_;
  std::vector<Entry> entries_;
  std::uint64_t next_ = 0;
};

// A USB microphone, headphones and the two loopback devices.
std::vector<AudioDeviceInfo> testDevices();

// What a model runs on in a test: scripted orchestrators, memory preferences
// and secrets, the test devices and a main queue in virtual time.
struct ModelWorld {
  ModelEnvironment environment() const;

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<ManualMainQueue> queue = ManualMainQueue::make(clock);
  std::shared_ptr<MemoryPreferences> preferences = std::make_shared<MemoryPreferences>();
  std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
  std::shared_ptr<ScriptedOrchestrators> scripted = std::make_shared<ScriptedOrchestrators>();
};

// A model of that world whose device list and recordings folder the test
// controls.
class ModelTest : public ::testing::Test, protected ModelWorld {
 protected:
  ModelTest();
  ~ModelTest() override;

  AppModel& model();
  void settle() { clock->settle(); }
  void advance(double seconds) { clock->advanceSeconds(seconds); }
  // Starts a call (or conversation) and brings it live.
  ScriptedOrchestrator& goLive();
  // The orchestrator made last (throws when none was made).
  ScriptedOrchestrator& last() const;
  std::vector<boost::json::object> tracked(const std::string& event) const;

  std::vector<AudioDeviceInfo> devices = testDevices();
  int deviceReads = 0;
  std::function<void()> devicesChanged;
  std::vector<std::pair<std::string, boost::json::object>> events;
  std::filesystem::path folder;
  std::string systemLanguage = "en";
  std::function<void(std::function<void(std::expected<void, std::string>)>)> installer;
  std::function<void(std::function<void(bool)>)> microphoneAccess;

 private:
  std::unique_ptr<AppModel> model_;
};

}  // namespace oskel::testing
