#include "Preferences.h"

#include <QSettings>

#include "QSettingsStore.h"
#include "log/Log.h"

namespace oskel {

namespace {

QString toQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

class QtPreferences final : public Preferences {
 public:
  QtPreferences() : settings_(QSettings::NativeFormat, QSettings::UserScope, QSettingsStore::organisation,
                              QSettingsStore::application) {}
  explicit QtPreferences(const std::string& file) : settings_(toQt(file), QSettings::IniFormat) {}

  std::optional<std::string> value(std::string_view key) const override {
    const auto stored = settings_.value(toQt(key));
    if (stored.typeId() != QMetaType::QString) return std::nullopt;
    return stored.toString().toStdString();
  }
  void setValue(std::string_view key, const std::string& value) override {
    settings_.setValue(toQt(key), toQt(value));
    flush();
  }
  void remove(std::string_view key) override {
    settings_.remove(toQt(key));
    flush();
  }
  bool flush() override {
    settings_.sync();
    if (settings_.status() == QSettings::NoError) return true;
    Log::warn([&] {
      return "settings: could not write " + settings_.fileName().toStdString() +
             "; changes are kept for this run only";
    });
    return false;
  }

 private:
  mutable QSettings settings_;
};

}  // namespace

std::shared_ptr<Preferences> Preferences::qt() { return std::make_shared<QtPreferences>(); }
std::shared_ptr<Preferences> Preferences::qt(const std::string& file) { return std::make_shared<QtPreferences>(file); }

std::optional<std::string> MemoryPreferences::value(std::string_view key) const {
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

void MemoryPreferences::setValue(std::string_view key, const std::string& value) {
  values.insert_or_assign(std::string(key), value);
}

void MemoryPreferences::remove(std::string_view key) {
  if (const auto found = values.find(key); found != values.end()) values.erase(found);
}

}  // namespace oskel
