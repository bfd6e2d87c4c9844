#include "audio/ListenerRegistry.h"

#include <atomic>
#include <vector>
#include <thread>

namespace oskel {

struct ListenerRegistry::Entry {
  AudioHostProperty property;
  AudioDeviceID device;
  AudioHost::Listener listener;
  std::mutex callMutex;  // held while the listener runs
  bool removed = false;  // guarded by callMutex
  std::atomic<std::thread::id> caller{};
};

namespace {

class Handle final : public AudioHostListener {
 public:
  using Remove = std::function<void()>;
  explicit Handle(Remove remove) : remove_(std::move(remove)) {}
  ~Handle() override { remove_(); }

 private:
  Remove remove_;
};

bool perDevice(AudioHostProperty property) { return property == AudioHostProperty::nominalSampleRate; }

}  // namespace

std::shared_ptr<ListenerRegistry> ListenerRegistry::make() {
  return std::shared_ptr<ListenerRegistry>(new ListenerRegistry());
}

std::unique_ptr<AudioHostListener> ListenerRegistry::add(AudioHostProperty property,
                                                         AudioDeviceID device,
                                                         AudioHost::Listener listener) {
  auto entry = std::make_shared<Entry>();
  entry->property = property;
  entry->device = perDevice(property) ? device : 0;
  entry->listener = std::move(listener);
  {
    std::lock_guard guard(mutex_);
    entries_.push_back(entry);
  }
  std::weak_ptr<ListenerRegistry> weak = weak_from_this();
  return std::make_unique<Handle>([weak, entry] {
    if (auto registry = weak.lock()) registry->remove(entry);
  });
}

void ListenerRegistry::remove(const std::shared_ptr<Entry>& entry) {
  {
    std::lock_guard guard(mutex_);
    std::erase(entries_, entry);
  }
  // A listener that drops its own handle is already inside its call.
  if (entry->caller.load() == std::this_thread::get_id()) return;
  std::lock_guard call(entry->callMutex);
  entry->removed = true;
}

void ListenerRegistry::notify(AudioHostProperty property, AudioDeviceID device) {
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard guard(mutex_);
    for (const auto& entry : entries_) {
      if (entry->property == property && (!perDevice(property) || entry->device == device)) {
        matching.push_back(entry);
      }
    }
  }
  for (const auto& entry : matching) {
    std::lock_guard call(entry->callMutex);
    if (entry->removed) continue;
    entry->caller.store(std::this_thread::get_id());
    entry->listener();
    entry->caller.store(std::thread::id{});
  }
}

}  // namespace oskel
