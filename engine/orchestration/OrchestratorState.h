#pragma once

#include <functional>
#include <mutex>
#include <set>

#include "orchestration/TranslatorVocabulary.h"

namespace oskel {

// The state an orchestrator merges from its pipelines, and the events it
// raises. A change of state raises `state` at once on the thread that made
// it; the directions that are ready decide between connecting, live and
// reconnecting.
class OrchestratorState {
 public:
  using Handler = std::function<void(const TranslatorEvent&)>;

  void setOnEvent(Handler handler);
  TranslatorState get() const;
  // Raises `state` when the value differs from the current one.
  void set(TranslatorState state);
  void raise(const TranslatorEvent& event);

  // The direction's session is ready; with `required` directions ready while
  // connecting or reconnecting, the state becomes live.
  void directionReady(CallDirection direction, size_t required);
  // The pipelines are up: connecting, or live at once when `required`
  // directions became ready while they were starting (their events may be
  // handled on another thread than the start).
  void connecting(size_t required);
  // The direction's session dropped: reconnecting after a first live,
  // connecting before.
  void directionDropped(CallDirection direction);

  bool is(std::initializer_list<size_t> indexes) const;
  bool wasLive() const;

 private:
  mutable std::mutex lock_;
  TranslatorState state_ = TranslatorStates::Idle{};
  std::set<CallDirection> ready_;
  bool wasLive_ = false;
  Handler onEvent_;
};

// Variant indexes of the states, for OrchestratorState::is.
namespace StateIndex {
inline constexpr size_t failed = 0, idle = 1, starting = 2, connecting = 3, live = 4, reconnecting = 5,
                        passthrough = 6, stopping = 7;
}

}  // namespace oskel
