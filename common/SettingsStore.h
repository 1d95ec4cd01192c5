#pragma once
// The per-user settings store: text values under application "Halvern!", section and key,
// kept in an INI file that a technician can read and edit. Section "Startup" holds the
// program's own keys; section "Ports" maps the port names COM1 to COM4 to device paths.
//
// The file, as written and as read:
//   [Startup]
//   Working Directory=/home/tech/releases
//   Baud Rate=38400
// - Keys are written as named, blanks included. A key written by older versions with %XX
//   escapes ("Baud%20Rate") is read as the same key and rewritten as named when it is set.
// - A value is the text after the first "=", blanks around it dropped, taken literally
//   (backslashes included). A value with blanks at either end, a leading double quote or a
//   control character is written in double quotes, where \" \\ \n \r \t stand for themselves.
// - Lines starting with ";" or "#" are comments. Comments, blank lines, the order of the
//   lines and keys the program does not know are kept when a value is set.
// - Section and key names are matched without regard to letter case.
// Every read looks at the file as it is now, so edits made while the program runs count;
// every write replaces the file in one step.

#include <QString>

#include <cstdint>
#include <optional>

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
    QString path_;
};

}  // namespace halvern
