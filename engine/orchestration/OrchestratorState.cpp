#include "orchestration/OrchestratorState.h"

#include <algorithm>

namespace oskel {

void OrchestratorState::setOnEvent(Handler handler) {
  std::lock_guard guard(lock_);
  onEvent_ = std::move(handler);
}

TranslatorState OrchestratorState::get() const {
  std::lock_guard guard(lock_);
  return state_;
}

bool OrchestratorState::is(std::initializer_list<size_t> indexes) const {
  std::lock_guard guard(lock_);
  return std::ranges::find(indexes, state_.index()) != indexes.end();
}

bool OrchestratorState::wasLive() const {
  std::lock_guard guard(lock_);
  return wasLive_;
}

void OrchestratorState::set(TranslatorState state) {
  Handler handler;
  {
    std::lock_guard guard(lock_);
    if (state_ == state) return;
    state_ = state;
    handler = onEvent_;
  }
  if (handler) handler(TranslatorEvents::State{std::move(state)});
}

void OrchestratorState::raise(const TranslatorEvent& event) {
  Handler handler;
  {
    std::lock_guard guard(lock_);
    handler = onEvent_;
  }
  if (handler) handler(event);
}

void OrchestratorState::directionReady(CallDirection direction, size_t required) {
  bool goLive = false;
  {
    std::lock_guard guard(lock_);
    ready_.insert(direction);
    const auto index = state_.index();
    if (ready_.size() >= required && (index == StateIndex::connecting || index == StateIndex::reconnecting)) {
      wasLive_ = true;
      goLive = true;
    }
  }
  if (goLive) set(TranslatorStates::Live{});
}

void OrchestratorState::connecting(size_t required) {
  bool ready = false;
  {
    std::lock_guard guard(lock_);
    ready = ready_.size() >= required;
    if (ready) wasLive_ = true;
  }
  set(TranslatorStates::Connecting{});
  if (ready) set(TranslatorStates::Live{});
}

void OrchestratorState::directionDropped(CallDirection direction) {
  bool affected = false;
  bool reconnecting = false;
  {
    std::lock_guard guard(lock_);
    ready_.erase(direction);
    const auto index = state_.index();
    affected = index == StateIndex::connecting || index == StateIndex::live || index == StateIndex::reconnecting;
    reconnecting = wasLive_;
  }
  if (!affected) return;
  if (reconnecting)
    set(TranslatorStates::Reconnecting{});
  else
    set(TranslatorStates::Connecting{});
}

}  // namespace oskel
