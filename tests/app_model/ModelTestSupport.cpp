#include "ModelTestSupport.h"

#include <algorithm>

namespace oskel::testing {

std::shared_ptr<ManualMainQueue> ManualMainQueue::make(std::shared_ptr<ManualClock> clock) {
  auto queue = std::shared_ptr<ManualMainQueue>(new ManualMainQueue(clock));
  clock->attach(queue);
  return queue;
}

void ManualMainQueue::post(Task task) {
  std::lock_guard guard(lock_);
  entries_.push_back({clock_->now(), next_++, std::move(task), nullptr});
}

Timer ManualMainQueue::schedule(Clock::Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard guard(lock_);
  entries_.push_back({clock_->now() + delay, next_++, std::move(task), cancelled});
  return Timer(cancelled);
}

std::optional<TimedExecutor::TimePoint> ManualMainQueue::nextDeadline() {
  std::lock_guard guard(lock_);
  if (entries_.empty()) return std::nullopt;
  return std::ranges::min(entries_, {}, &Entry::due).due;
}

void ManualMainQueue::waitUntilIdle() {
  for (;;) {
    Entry entry;
    {
      std::lock_guard guard(lock_);
      const auto due = std::ranges::min_element(entries_, {}, [](const Entry& e) { return std::tie(e.due, e.order); });
      if (due == entries_.end() || due->due > clock_->now()) return;
      entry = std::move(*due);
      entries_.erase(due);
    }
    if (!entry.cancelled || !entry.cancelled->load()) entry.task();
  }
}

ModelTest::ModelTest() {
  folder = std::filesystem::temp_directory_path() /
           ("oskel-model-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(folder);
  secrets->key = "sk-test";
  // The system defaults, as both the model and a scripted orchestrator see them.
  scripted->defaultMicrophone = devices[0];
  scripted->defaultSpeaker = devices[1];
}

ModelTest::~ModelTest() {
  model_.reset();
  std::filesystem::remove_all(folder);
}

std::vector<AudioDeviceInfo> testDevices() {
  const auto device = [](AudioDeviceID id, std::string_view uid, bool input, bool output) {
    AudioDeviceInfo info;
    info.id = id;
    info.name = info.uid = uid;
    info.inputChannels = input ? 1 : 0;
    info.outputChannels = output ? 2 : 0;
    return info;
  };
  return {device(10, "usb-mic", true, false), device(11, "headphones", false, true),
          device(12, AudioDevices::oskelMicrophoneUID, true, true),
          device(13, AudioDevices::oskelSpeakerUID, true, true)};
}

ModelEnvironment ModelWorld::environment() const {
  ModelEnvironment environment;
  environment.mainQueue = queue;
  environment.preferences = preferences;
  environment.secrets = secrets;
  environment.orchestrators = ScriptedOrchestrators::factory(scripted);
  environment.devices = DeviceSource::fixed(testDevices());
  return environment;
}

AppModel& ModelTest::model() {
  if (model_) return *model_;
  auto environment = ModelWorld::environment();
  environment.devices.all = [this] {
    ++deviceReads;
    return devices;
  };
  environment.devices.observe = [this](std::function<void()> changed) -> std::shared_ptr<void> {
    devicesChanged = std::move(changed);
    return nullptr;
  };
  environment.track = [this](std::string event, boost::json::object properties) {
    events.emplace_back(std::move(event), std::move(properties));
  };
  environment.installDriver = installer;
  environment.microphoneAccess = microphoneAccess;
  environment.recordingsFolder = folder;
  environment.systemLanguage = systemLanguage;
  environment.interfaceLanguages = {"de", "en", "es"};
  model_ = std::make_unique<AppModel>(std::move(environment));
  return *model_;
}

ScriptedOrchestrator& ModelTest::goLive() {
  model().start();
  settle();
  auto& made = last();
  made.raiseState(TranslatorStates::Live{});
  settle();
  return made;
}

ScriptedOrchestrator& ModelTest::last() const {
  if (!scripted->last()) throw std::runtime_error("no orchestrator was made");
  return *scripted->last();
}

std::vector<boost::json::object> ModelTest::tracked(const std::string& event) const {
  std::vector<boost::json::object> found;
  for (const auto& [name, properties] : events)
    if (name == event) found.push_back(properties);
  return found;
}

}  // namespace oskel::testing
