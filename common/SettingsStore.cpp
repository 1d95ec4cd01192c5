#include "common/SettingsStore.h"

#include "common/AppState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

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

namespace {

// "%20" and "%U00E9" as older versions escaped keys and section names; anything else as is.
QString decode_name(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == QLatin1Char('%')) {
            bool ok = false;
            if (i + 5 < name.size() && name[i + 1] == QLatin1Char('U')) {
                const uint code = name.mid(i + 2, 4).toUInt(&ok, 16);
                if (ok) {
                    out += QChar(char16_t(code));
                    i += 5;
                    continue;
                }
            }
            const QString hex = name.mid(i + 1, 2);
            const uint code = hex.toUInt(&ok, 16);
            if (ok && hex.size() == 2) {
                out += QChar(char16_t(code));
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

bool is_comment(const QString& trimmed) {
    return trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'));
}

// The section a header line opens, or nothing when the line is no header.
std::optional<QString> section_of(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']'))) return std::nullopt;
    return decode_name(t.mid(1, t.size() - 2).trimmed());
}

QString unquote(const QString& value) {
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"'))) return value;
    QString out;
    const QString inner = value.mid(1, value.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\\') && i + 1 < inner.size()) {
            const QChar next = inner[++i];
            if (next == QLatin1Char('n')) out += QLatin1Char('\n');
            else if (next == QLatin1Char('r')) out += QLatin1Char('\r');
            else if (next == QLatin1Char('t')) out += QLatin1Char('\t');
            else out += next;  // \" and \\ and anything else: the character itself
        } else {
            out += inner[i];
        }
    }
    return out;
}

QString quote_if_needed(const QString& value) {
    bool control = false;
    for (const QChar c : value) control |= c.unicode() < 0x20;
    if (!control && value == value.trimmed() && !value.startsWith(QLatin1Char('"'))) return value;
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('\n')) out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r')) out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t')) out += QStringLiteral("\\t");
        else out += c;
    }
    return out + QLatin1Char('"');
}

// A key line: its key (decoded) and value (unquoted); nothing for headers, comments and
// lines without "=".
std::optional<std::pair<QString, QString>> key_of(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty() || is_comment(t) || t.startsWith(QLatin1Char('['))) return std::nullopt;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0) return std::nullopt;
    return std::make_pair(decode_name(t.left(eq).trimmed()), unquote(t.mid(eq + 1).trimmed()));
}

bool same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QStringList read_lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// The index of the line holding key in section (the last one when the key is there twice).
std::optional<qsizetype> find_key(const QStringList& lines, const QString& section, const QString& key) {
    std::optional<qsizetype> found;
    bool inside = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto s = section_of(lines[i])) {
            inside = same(*s, section);
        } else if (inside) {
            if (const auto kv = key_of(lines[i]); kv && same(kv->first, key)) found = i;
        }
    }
    return found;
}

}  // namespace

SettingsStore::SettingsStore()
    : path_(QSettings(QSettings::IniFormat, QSettings::UserScope, kAppTitle, kAppTitle).fileName()) {}

SettingsStore::SettingsStore(const QString& ini_path) : path_(ini_path) {}

QString SettingsStore::get(const QString& section, const QString& key, const QString& fallback) const {
    const QStringList lines = read_lines(path_);
    const auto at = find_key(lines, section, key);
    return at ? key_of(lines[*at])->second : fallback;
}

bool SettingsStore::contains(const QString& section, const QString& key) const {
    return find_key(read_lines(path_), section, key).has_value();
}

void SettingsStore::set(const QString& section, const QString& key, const QString& value) {
    QStringList lines = read_lines(path_);
    const QString line = key + QLatin1Char('=') + quote_if_needed(value);

    // The key's own line (its last one) is rewritten as named; other lines of the same key in
    // the section go, so that what is read back is what was set.
    std::optional<qsizetype> last_of_section;  // the last header or key line of the section
    QList<qsizetype> own;
    bool inside = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto s = section_of(lines[i])) {
            inside = same(*s, section);
            if (inside) last_of_section = i;
        } else if (inside) {
            if (const auto kv = key_of(lines[i])) {
                last_of_section = i;
                if (same(kv->first, key)) own << i;
            }
        }
    }
    if (!own.isEmpty()) {
        lines[own.takeLast()] = line;
        for (qsizetype k = own.size() - 1; k >= 0; --k) lines.removeAt(own[k]);
    } else if (last_of_section) {
        lines.insert(*last_of_section + 1, line);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QString();
        lines << QLatin1Char('[') + section + QLatin1Char(']') << line;
    }

    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    file.commit();
}

QString SettingsStore::file_name() const { return path_; }

}  // namespace halvern
