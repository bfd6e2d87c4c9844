#include "QSettingsStore.h"

#include <QSettings>

namespace oskel {

struct QSettingsStore::Impl {
  QSettings settings;
};

namespace {
QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

QSettingsStore::QSettingsStore()
    : impl_(new Impl{QSettings(QSettings::NativeFormat, QSettings::UserScope, organisation, application)}) {}

QSettingsStore::QSettingsStore(const std::string& iniFile)
    : impl_(new Impl{QSettings(qt(iniFile), QSettings::IniFormat)}) {}

QSettingsStore::~QSettingsStore() = default;

std::optional<std::string> QSettingsStore::value(std::string_view key) const {
  const auto stored = impl_->settings.value(qt(key));
  if (stored.typeId() != QMetaType::QString) return std::nullopt;
  return stored.toString().toStdString();
}

void QSettingsStore::setValue(std::string_view key, const std::string& value) {
  impl_->settings.setValue(qt(key), qt(value));
  impl_->settings.sync();
}

}  // namespace oskel
