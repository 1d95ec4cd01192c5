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

// Columns of at least the header's width and at most limit, padded with two blanks.
std::vector<int> column_widths(const std::vector<QStringList>& rows, int limit) {
    std::vector<int> widths;
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= static_cast<std::size_t>(c)) widths.push_back(0);
            widths[c] = std::max(widths[c], static_cast<int>(std::min<qsizetype>(row[c].size(), limit)));
        }
    return widths;
}

QStringList aligned(const std::vector<QStringList>& rows, int limit) {
    const std::vector<int> widths = column_widths(rows, limit);
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

QString phase_text(const PortRow& row) {
    switch (row.phase) {
    case Phase::Waiting: return QStringLiteral("waiting");
    case Phase::Identifying: return QStringLiteral("identifying");
    case Phase::Preparing: return QStringLiteral("preparing");
    case Phase::Asking: return QStringLiteral("waiting for an answer");
    case Phase::CoolingDown:
        if (row.cool_down_seconds < 0) return QStringLiteral("cooling down");
        return QStringLiteral("cooling down %1:%2")
            .arg(row.cool_down_seconds / 60, 2, 10, QLatin1Char('0'))
            .arg(row.cool_down_seconds % 60, 2, 10, QLatin1Char('0'));
    case Phase::Uploading:
        return QStringLiteral("uploading %1% %2 left").arg(row.percent, 3).arg(or_dash(row.time_left));
    case Phase::Closing: return QStringLiteral("closing");
    case Phase::Done: return QStringLiteral("done");
    case Phase::Failed:
        return row.message.isEmpty() ? QStringLiteral("failed") : QStringLiteral("failed: ") + row.message;
    case Phase::Declined: return QStringLiteral("declined");
    case Phase::Cancelled:
        return row.message.isEmpty() ? QStringLiteral("cancelled") : QStringLiteral("cancelled: ") + row.message;
    }
    return QString();
}

QStringList table_lines(const std::vector<PortRow>& rows, int width) {
    std::vector<QStringList> cells{{QStringLiteral("PORT"), QStringLiteral("MODEL"), QStringLiteral("O/S"),
                                    QStringLiteral("PHASE")}};
    for (const PortRow& row : rows) cells.push_back({row.port, or_dash(row.model), or_dash(row.version), phase_text(row)});
    QStringList lines = aligned(cells, 24);
    // A line longer than the terminal would wrap and spoil the redraw in place.
    const int keep = std::max(width - 1, 10);
    for (QString& line : lines)
        if (line.size() > keep) line.truncate(keep);
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
    if (outcome.stopped) return QStringLiteral("cancelled");
    switch (exit_status(outcome.outcome)) {
    case kExitDeclined: return QStringLiteral("declined");
    case kExitCoolDownCancelled: return QStringLiteral("cancelled");
    case kExitPortNotOpened: return QStringLiteral("port-error");
    case kExitDeviceFailed: return QStringLiteral("device-error");
    default: return QStringLiteral("failed");
    }
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
    QByteArray line = "{";
    for (const auto& [key, value] : fields) {
        if (line.size() > 1) line += ',';
        line += json_value(QString::fromLatin1(key)) + ':' + json_value(value);
    }
    return line + '}';
}

QStringList summary_lines(const std::vector<PortOutcome>& outcomes) {
    std::vector<QStringList> cells{{QStringLiteral("PORT"), QStringLiteral("MODEL"), QStringLiteral("VERSION"),
                                    QStringLiteral("OUTCOME"), QStringLiteral("TIME")}};
    for (const PortOutcome& o : outcomes)
        cells.push_back({o.port, or_dash(o.model), or_dash(o.version), outcome_name(o), format_duration(o.seconds)});
    return aligned(cells, 1000);
}

int fleet_exit_code(const std::vector<PortOutcome>& outcomes) {
    const bool all = !outcomes.empty() && std::all_of(outcomes.begin(), outcomes.end(),
                                                      [](const PortOutcome& o) { return o.outcome == Outcome::Uploaded; });
    return all ? kExitOk : kExitFleetIncomplete;
}

}  // namespace halvern::cli
