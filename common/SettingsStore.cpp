#include "common/SettingsStore.h"

#include "common/AppState.h"

#include <QSettings>

#include <limits>

namespace halvern {

std::optional<std::int32_t> parse_decimal(const QString& text) {
    const QString t = text.trimmed();
    const qsizetype first = t.startsWith(QLatin1Char('-')) ? 1 : 0;
    if (t.size() == first) return std::nullopt;
    for (qsizetype i = first; i < t.size(); ++i)
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return std::nullopt;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    if (!ok || v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

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
