#include "app/SettingsStore.h"

#include "app/AppState.h"

#include <QSettings>

namespace halvern {

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kAppTitle, kAppTitle)) {}

SettingsStore::SettingsStore(const QString& ini_path)
    : settings_(std::make_unique<QSettings>(ini_path, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::get(const QString& section, const QString& key, const QString& fallback) const {
    return settings_->value(section + QLatin1Char('/') + key, fallback).toString();
}

void SettingsStore::set(const QString& section, const QString& key, const QString& value) {
    settings_->setValue(section + QLatin1Char('/') + key, value);
    settings_->sync();
}

bool SettingsStore::contains(const QString& section, const QString& key) const {
    return settings_->contains(section + QLatin1Char('/') + key);
}

QString SettingsStore::file_name() const { return settings_->fileName(); }

}  // namespace halvern
