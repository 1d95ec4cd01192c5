#pragma once
// The per-user settings store: text values under application "Halvern!", section and key,
// kept in an INI file. Section "Startup" holds the program's own keys; section "Ports" maps
// the port names COM1 to COM4 to device paths.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QSettings;

namespace halvern {

// A stored number: decimal digits with an optional leading "-", blanks around them allowed,
// within the signed 32-bit range. Anything else is no number.
std::optional<std::int32_t> parse_decimal(const QString& text);

class SettingsStore {
public:
    // The user's own store (on Linux ~/.config/Halvern!/Halvern!.ini, or below $XDG_CONFIG_HOME).
    SettingsStore();
    // A store kept in the given INI file (tests, tools).
    explicit SettingsStore(const QString& ini_path);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString get(const QString& section, const QString& key, const QString& fallback = QString()) const;
    void set(const QString& section, const QString& key, const QString& value);
    bool contains(const QString& section, const QString& key) const;
    QString file_name() const;

    // Shorthands for section "Startup".
    QString startup(const QString& key, const QString& fallback = QString()) const {
        return get(QStringLiteral("Startup"), key, fallback);
    }
    void set_startup(const QString& key, const QString& value) { set(QStringLiteral("Startup"), key, value); }

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace halvern
