#include "halvern-upload/PortLog.h"

#include "halvern-upload/FleetFormat.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace halvern::cli {

PortLog::PortLog() = default;
PortLog::~PortLog() { close(); }

QString PortLog::file_name(const QDateTime& start, const QString& port, const QString& run) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString safe = port;
    safe.replace(unsafe, QStringLiteral("_"));
    return QStringLiteral("%1-%2-%3.log").arg(start.toString(QStringLiteral("yyyyMMdd-HHmmss")), safe, run.left(8));
}

bool PortLog::open(const QString& dir, const QString& port, const QString& run, const QDateTime& start) {
    std::lock_guard lock(mutex_);
    file_ = std::make_unique<QFile>(QDir(dir).filePath(file_name(start, port, run)));
    if (!QDir().mkpath(dir)) {
        fail(QStringLiteral("cannot make the directory"));
        return false;
    }
    if (!file_->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
        fail(file_->errorString());
        return false;
    }
    return true;
}

void PortLog::line(const QString& text) {
    std::lock_guard lock(mutex_);
    if (!file_ || !file_->isOpen()) return;
    const QByteArray bytes =
        (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + text + QLatin1Char('\n')).toUtf8();
    // Written through at once: a log that stops in the middle of a run still holds the run so far.
    if (file_->write(bytes) != bytes.size() || !file_->flush()) fail(file_->errorString());
}

bool PortLog::close() {
    std::lock_guard lock(mutex_);
    if (file_ && file_->isOpen()) {
        if (!file_->flush()) fail(file_->errorString());
        file_->close();
    }
    return error_.isEmpty();
}

QString PortLog::path() const {
    std::lock_guard lock(mutex_);
    return file_ ? file_->fileName() : QString();
}

QString PortLog::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void PortLog::fail(const QString& reason) {
    if (error_.isEmpty()) error_ = QStringLiteral("cannot write the log %1: %2").arg(file_->fileName(), reason);
}

bool PortLogs::open(const QString& dir, const QStringList& ports, const QString& run) {
    const QDateTime start = QDateTime::currentDateTime();
    for (const QString& port : ports) {
        auto log = std::make_unique<PortLog>();
        if (!log->open(dir, port, run, start)) {
            error_ = log->error();
            return false;
        }
        logs_[port] = std::move(log);
    }
    return true;
}

PortLog* PortLogs::of(const QString& port) const {
    const auto found = logs_.find(port);
    return found == logs_.end() ? nullptr : found->second.get();
}

bool PortLogs::close() {
    for (const auto& [port, log] : logs_)
        if (!log->close() && error_.isEmpty()) error_ = log->error();
    return error_.isEmpty();
}

std::function<void(const QString&)> port_detail(PortLog* log, Console* verbose, std::function<QTime()> time_of_day) {
    return [=](const QString& text) {
        if (log) log->line(text);
        if (!verbose) return;
        const QTime now = time_of_day ? time_of_day() : QTime::currentTime();
        verbose->line(now.toString(QStringLiteral("HH:mm:ss.zzz ")) + text);
    };
}

void TracingReporter::message_box(const QString& text, const QString& caption) {
    trace_(message_line({Message::Box, text}));
    face_.message_box(text, caption);
}

bool TracingReporter::question(const QString& text, const QString& caption) {
    const bool yes = face_.question(text, caption);
    trace_(message_line({Message::Question, text, 0, yes}));
    return yes;
}

bool TracingReporter::ask(Question which, const QString& text, const QString& caption) {
    const bool yes = face_.ask(which, text, caption);
    trace_(message_line({Message::Question, text, 0, yes}));
    return yes;
}

void TracingReporter::show_status(int icon, const QString& text) {
    if (!text.isEmpty()) trace_(message_line({Message::Status, text, icon}));
    face_.show_status(icon, text);
}

}  // namespace halvern::cli
