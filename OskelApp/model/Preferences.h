#pragma once

#include <map>
#include <memory>
#include <string>

#include "SettingsStore.h"

namespace oskel {

// The application's own settings file: text values by key. The model keeps
// "settings", "mode", "onboardingCompleted" and the interface-language
// override here; telemetry keeps its ids in the same store.
class Preferences : public SettingsStore {
 public:
  virtual void remove(std::string_view key) = 0;
  // Writes pending changes; false when the file could not be written (the
  // values stay in memory for this run).
  virtual bool flush() = 0;

  // Qt's settings file of the application (organisation "Brindlework",
  // application "Oskel") in the XDG config folder, or any given file.
  static std::shared_ptr<Preferences> qt();
  static std::shared_ptr<Preferences> qt(const std::string& file);
};

// Preferences that live only in memory: previews and tests.
class MemoryPreferences final : public Preferences {
 public:
  std::optional<std::string> value(std::string_view key) const override;
  void setValue(std::string_view key, const std::string& value) override;
  void remove(std::string_view key) override;
  bool flush() override { return writable; }

  std::map<std::string, std::string, std::less<>> values;
  bool writable = true;
};

}  // namespace oskel
