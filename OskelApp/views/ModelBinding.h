#pragma once

#include <chrono>
#include <map>
#include <optional>

#include "AppModel.h"
#include "ViewState.h"

namespace oskel::views {

// Reads what the windows show from the model. Caption lines get the wall time
// at which they were first seen, for saved subtitles.
class ModelBinding {
 public:
  explicit ModelBinding(AppModel& model) : model_(model) {}

  ViewState snapshot(const std::optional<update::State>& update, std::string version);
  // The model's operations behind every control; `extra` supplies what the
  // delegate does itself (quit, update, get started, ...).
  ViewActions actions(ViewActions extra);

 private:
  AppModel& model_;
  std::map<std::uint64_t, std::chrono::system_clock::time_point> firstSeen_;
};

}  // namespace oskel::views
