#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oskel {

// The application's small persistent settings (installation id, attribution
// id) as text values by key. The application uses QSettingsStore; unit tests
// may use a temporary file or a map.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> value(std::string_view key) const = 0;
  virtual void setValue(std::string_view key, const std::string& value) = 0;
};

}  // namespace oskel
