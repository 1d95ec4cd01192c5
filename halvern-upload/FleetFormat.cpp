#include "halvern-upload/FleetFormat.h"

#include "halvern-upload/TerminalReporter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace halvern::cli {

namespace {

QString cell(const QString& text, int width) { return text.leftJustified(width, QLatin1Char(' '), true); }

QString or_dash(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

// A value as JSON text, through a one-element array so that any value is escaped alike.
QByteArray json_value(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Columns of the widest cell's width, padded with two blanks.
std::vector<int> column_widths(const std::vector<QStringList>& rows) {
    std::vector<int> widths;
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= static_cast<std::size_t>(c)) widths.push_back(0);
            widths[c] = std::max(widths[c], static_cast<int>(row[c].size()));
        }
    return widths;
}

QStringList aligned(const std::vector<QStringList>& rows) {
    const std::vector<int> widths = column_widths(rows);
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 == row.size() ? row[c] : cell(row[c], widths[c]) + QStringLiteral("  ");
        lines << line;
    }
    return lines;
}

}  // namespace

QString format_duration(double seconds) {
    const auto s = static_cast<long long>(std::max(0.0, std::round(seconds)));
    const long long h = s / 3600, m = (s / 60) % 60, r = s % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(r, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(r, 2, 10, QLatin1Char('0'));
}

namespace {

// The words of a phase that are never cut.
QString phase_name(Phase phase) {
    switch (phase) {
    case Phase::Waiting: return QStringLiteral("waiting");
    case Phase::Identifying: return QStringLiteral("identifying");
    case Phase::Preparing: return QStringLiteral("preparing");
    case Phase::Asking: return QStringLiteral("waiting for an answer");
    case Phase::CoolingDown: return QStringLiteral("cooling down");
    case Phase::Queued: return QStringLiteral("queued");
    case Phase::Uploading: return QStringLiteral("uploading");
    case Phase::Closing: return QStringLiteral("closing");
    case Phase::Verifying: return QStringLiteral("verifying");
    case Phase::Done: return QStringLiteral("done");
    case Phase::Failed: return QStringLiteral("failed");
    case Phase::Declined: return QStringLiteral("declined");
    case Phase::Cancelled: return QStringLiteral("cancelled");
    }
    return QString();
}

// The phase in at most width characters, cut between words and never inside its name.
QString phase_cell(const PortRow& row, int width) {
    const QString text = phase_text(row);
    if (text.size() <= width) return text;
    const qsizetype blank = text.lastIndexOf(QLatin1Char(' '), std::max(width, 0));
    return text.left(std::max(blank, phase_name(row.phase).size())).trimmed();
}

// A port name in at most width characters: whole, or its end after an ellipsis.
QString port_cell(const QString& port, int width) {
    if (port.size() <= width) return port;
    return QStringLiteral("\u2026") + port.right(std::max(width - 1, 0));
}

// Which ports a table too tall for the terminal shows first: those that failed (they want the
// technician), those under way, those still waiting, then the rest.
int urgency(Phase phase) {
    switch (phase) {
    case Phase::Failed: return 0;
    case Phase::Waiting:
    case Phase::Queued: return 2;
    case Phase::Declined:
    case Phase::Cancelled: return 3;
    case Phase::Done: return 4;
    default: return 1;
    }
}

// The phase column wants room for "uploading 100% 12:34 left"; a port name at least this much.
constexpr int kPhaseWish = 25;
constexpr int kShortestPort = 16;

}  // namespace

QString phase_text(const PortRow& row) {
    switch (row.phase) {
    case Phase::CoolingDown:
        if (row.cool_down_seconds < 0) break;
        return QStringLiteral("cooling down %1:%2")
            .arg(row.cool_down_seconds / 60, 2, 10, QLatin1Char('0'))
            .arg(row.cool_down_seconds % 60, 2, 10, QLatin1Char('0'));
    case Phase::Uploading:
        return QStringLiteral("uploading %1% %2 left").arg(row.percent, 3).arg(or_dash(row.time_left));
    case Phase::Failed:
    case Phase::Cancelled:
        if (!row.message.isEmpty()) return phase_name(row.phase) + QStringLiteral(": ") + row.message;
        break;
    default: break;
    }
    return phase_name(row.phase);
}

QString phase_counts(const std::vector<PortRow>& rows, int width) {
    QString text = QStringLiteral("%1 ports:").arg(rows.size());
    QString separator = QStringLiteral(" ");
    for (int p = 0; p <= static_cast<int>(Phase::Cancelled); ++p) {
        const auto n = std::count_if(rows.begin(), rows.end(), [&](const PortRow& r) { return static_cast<int>(r.phase) == p; });
        if (n == 0) continue;
        const QString longer = text + separator + QStringLiteral("%1 %2").arg(n).arg(phase_name(static_cast<Phase>(p)));
        if (longer.size() > width) break;
        text = longer;
        separator = QStringLiteral(", ");
    }
    return text;
}

QStringList table_lines(const std::vector<PortRow>& rows, int width, int height) {
    // A line as long as the terminal would wrap and spoil the redraw in place.
    const int room = std::max(width - 1, 1);
    int port_full = 4, model_w = 5, version_w = 3, name_w = 5;  // at least the headers
    for (const PortRow& row : rows) {
        port_full = std::max(port_full, static_cast<int>(row.port.size()));
        model_w = std::max(model_w, static_cast<int>(or_dash(row.model).size()));
        version_w = std::max(version_w, static_cast<int>(or_dash(row.version).size()));
        name_w = std::max(name_w, static_cast<int>(phase_name(row.phase).size()));
    }
    // Room is given in this order: the phase's name, a short port name, the rest of the
    // phase, the O/S version, the model, the whole port name; the phase takes what is left.
    int port_w = std::max(1, std::min({port_full, kShortestPort, room - 2 - name_w}));
    int used = port_w + 2 + name_w;
    used += std::clamp(room - used, 0, kPhaseWish - name_w);
    const bool show_version = used + version_w + 2 <= room;
    used += show_version ? version_w + 2 : 0;
    const bool show_model = used + model_w + 2 <= room;
    used += show_model ? model_w + 2 : 0;
    port_w += std::clamp(room - used, 0, port_full - port_w);
    const int phase_w = room - port_w - 2 - (show_version ? version_w + 2 : 0) - (show_model ? model_w + 2 : 0);

    auto line = [&](const QString& port, const QString& model, const QString& version, const QString& phase) {
        QString l = cell(port_cell(port, port_w), port_w) + QStringLiteral("  ");
        if (show_model) l += cell(model, model_w) + QStringLiteral("  ");
        if (show_version) l += cell(version, version_w) + QStringLiteral("  ");
        return (l + phase).left(room);
    };
    QStringList lines{line(QStringLiteral("PORT"), QStringLiteral("MODEL"), QStringLiteral("O/S"), QStringLiteral("PHASE"))};

    // Taller than the terminal: the header, the counts, and the most urgent rows that fit,
    // one line being left for the cursor so that nothing scrolls off the top.
    std::vector<std::size_t> shown(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) shown[i] = i;
    if (height > 0 && static_cast<int>(rows.size()) + 2 > height) {
        const auto fit = static_cast<std::size_t>(std::max(height - 3, 0));
        std::stable_sort(shown.begin(), shown.end(),
                         [&](std::size_t a, std::size_t b) { return urgency(rows[a].phase) < urgency(rows[b].phase); });
        shown.resize(std::min(fit, shown.size()));
        std::sort(shown.begin(), shown.end());
        lines << phase_counts(rows, room).left(room);
    }
    for (std::size_t i : shown) {
        const PortRow& row = rows[i];
        lines << line(row.port, or_dash(row.model), or_dash(row.version), phase_cell(row, phase_w));
    }
    return lines;
}

QString plain_line(const QString& port, const QString& clock, const QString& text) {
    return port + QLatin1Char(' ') + clock + QLatin1Char(' ') + text;
}

QString message_line(const Message& message) {
    if (message.kind != Message::Question) return box_line(message.text);
    return box_line(message.text) + (message.yes ? QStringLiteral(" [y/N] y") : QStringLiteral(" [y/N] n"));
}

QString innermost_message(const std::vector<Message>& messages) {
    // The chain of the last failure begins after the last line that was not a failure.
    std::size_t start = 0;
    for (std::size_t i = 0; i < messages.size(); ++i)
        if (messages[i].kind == Message::Status && messages[i].icon == 1) start = i + 1;
    for (std::size_t i = start; i < messages.size(); ++i)
        if (messages[i].kind == Message::Box) return message_line(messages[i]);
    for (std::size_t i = start; i < messages.size(); ++i)
        if (messages[i].kind == Message::Status && !messages[i].text.isEmpty()) return message_line(messages[i]);
    return QString();
}

QString outcome_name(const PortOutcome& outcome) {
    if (outcome.outcome == Outcome::Uploaded) return QStringLiteral("uploaded");
    if (outcome.outcome == Outcome::Stopped) return QStringLiteral("stopped");
    if (outcome.outcome == Outcome::Verified) return QStringLiteral("verified");
    if (outcome.outcome == Outcome::Current) return QStringLiteral("current");
    // Uploaded, but not back on the release (a stop during the wait included).
    if (exit_status(outcome.outcome) == kExitNotVerified) return QStringLiteral("not-verified");
    if (outcome.stopped) return QStringLiteral("cancelled");
    switch (exit_status(outcome.outcome)) {
    case kExitDeclined: return QStringLiteral("declined");
    case kExitCoolDownCancelled: return QStringLiteral("cancelled");
    case kExitPortNotOpened: return QStringLiteral("port-error");
    case kExitDeviceFailed: return QStringLiteral("device-error");
    default: return QStringLiteral("failed");
    }
}

QByteArray json_object_line(std::span<const std::pair<const char*, QJsonValue>> fields) {
    QByteArray line = "{";
    for (const auto& [key, value] : fields) {
        if (line.size() > 1) line += ',';
        line += json_value(QString::fromLatin1(key)) + ':' + json_value(value);
    }
    return line + '}';
}

QByteArray report_line(const PortOutcome& outcome) {
    QJsonArray messages;
    for (const Message& m : outcome.messages) messages.append(message_line(m));
    auto text_or_null = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    const std::pair<const char*, QJsonValue> fields[] = {
        {"port", outcome.port},
        {"device", outcome.device},
        {"model", text_or_null(outcome.model)},
        {"version", text_or_null(outcome.version)},
        {"release", outcome.release},
        {"release_version", outcome.release_version},
        {"outcome", outcome_name(outcome)},
        {"exit", exit_status(outcome.outcome)},
        {"messages", messages},
        {"seconds", std::round(outcome.seconds * 10.0) / 10.0},
    };
    return json_object_line(fields);
}

QStringList summary_lines(const std::vector<PortOutcome>& outcomes) {
    std::vector<QStringList> cells{{QStringLiteral("PORT"), QStringLiteral("MODEL"), QStringLiteral("VERSION"),
                                    QStringLiteral("OUTCOME"), QStringLiteral("TIME")}};
    for (const PortOutcome& o : outcomes)
        cells.push_back({o.port, or_dash(o.model), or_dash(o.version), outcome_name(o), format_duration(o.seconds)});
    return aligned(cells);
}

int fleet_exit_code(const std::vector<PortOutcome>& outcomes) {
    const bool all = !outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(), [](const PortOutcome& o) {
                         return exit_status(o.outcome) == kExitOk;
                     });
    return all ? kExitOk : kExitFleetIncomplete;
}

}  // namespace halvern::cli
