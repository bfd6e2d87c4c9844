#pragma once

#include <memory>
#include <string>

#include "SettingsStore.h"

namespace oskel {

// Settings in Qt's settings file: for the application, the native file of
// organisation "Brindlework" and application "Oskel" in the XDG config
// folder (~/.config/Brindlework/Oskel.conf); for tests, any file. Only text
// values are read; anything else counts as absent.
class QSettingsStore final : public SettingsStore {
 public:
  static constexpr const char* organisation = "Brindlework";
  static constexpr const char* application = "Oskel";

  QSettingsStore();
  explicit QSettingsStore(const std::string& iniFile);
  ~QSettingsStore() override;

  std::optional<std::string> value(std::string_view key) const override;
  void setValue(std::string_view key, const std::string& value) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskel
