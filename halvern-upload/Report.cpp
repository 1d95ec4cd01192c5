#include "halvern-upload/Report.h"

#include "halvern-upload/Arguments.h"
#include "image/FileLookup.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHash>
#include <QUuid>

#include <cstdlib>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace halvern::cli {

QString iso_time(const QDateTime& time) {
    const int offset = time.offsetFromUtc() / 60;
    const int hours = std::abs(offset) / 60, minutes = std::abs(offset) % 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(hours, 2, 10, QLatin1Char('0'))
               .arg(minutes, 2, 10, QLatin1Char('0'));
}

QByteArray stamped_line(const QByteArray& object, const QString& run, const QDateTime& time) {
    // Both values are plain ASCII without quotes or backslashes: no escaping needed.
    const QByteArray stamp = "{\"run\":\"" + run.toLatin1() + "\",\"time\":\"" + iso_time(time).toLatin1() + '"';
    return stamp + (object.size() > 2 ? "," + object.mid(1) : QByteArray("}"));
}

std::optional<QStringList> failed_ports(const QString& path, const QString& release, QString& error) {
    // Read without ever blocking: a FIFO or a device in its place is refused unread.
    const RegularFile file = read_regular_file(path, -1);
    if (file.outcome != RegularFile::Outcome::Read) {
        error = QStringLiteral("cannot read the report %1: %2").arg(path, file.error);
        return std::nullopt;
    }
    QStringList order;               // each port at its first line of the release
    QHash<QString, bool> failed;     // by port: whether its latest line failed
    const QList<QByteArray> lines = file.bytes.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        if (lines[n].trimmed().isEmpty()) continue;
        QJsonParseError parsed;
        const QJsonDocument line = QJsonDocument::fromJson(lines[n], &parsed);
        if (parsed.error != QJsonParseError::NoError || !line.isObject()) {
            error = QStringLiteral("the report %1 is not one JSON object a line: line %2").arg(path).arg(n + 1);
            return std::nullopt;
        }
        const QJsonObject object = line.object();
        const QJsonValue port = object.value(QStringLiteral("port"));
        if (!port.isString() || object.value(QStringLiteral("release")).toString() != release) continue;
        // The name goes to the port's open as it stands: only what --port would take.
        if (parse_port_name(port.toString()) != port.toString()) {
            error = QStringLiteral("the report %1 names a port that --port does not take: line %2").arg(path).arg(n + 1);
            return std::nullopt;
        }
        const QString outcome = object.value(QStringLiteral("outcome")).toString();
        static const QStringList kWell{QStringLiteral("uploaded"), QStringLiteral("verified"), QStringLiteral("current")};
        if (!failed.contains(port.toString())) order << port.toString();
        failed[port.toString()] = !kWell.contains(outcome);
    }
    order.removeIf([&](const QString& port) { return !failed.value(port); });
    return order;
}

Report::~Report() { close(); }

bool Report::open(const QString& path) {
    path_ = path;
    run_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (path == QLatin1String("-")) {
        fd_ = 1;
        return true;
    }
    // Appending only: a run adds its lines after those of earlier runs, whatever it comes to.
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(errno);
    return fd_ >= 0;
}

void Report::add(const QByteArray& object) {
    if (fd_ < 0) return;
    // One write per line: with O_APPEND a line of another run never lands inside it.
    const QByteArray line = stamped_line(object, run_, QDateTime::currentDateTime()) + '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.constData() + done, static_cast<std::size_t>(line.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return;
        }
        done += n;
    }
}

bool Report::close() {
    if (fd_ > 1) {
        // The data must have reached the file: a delayed write error shows here.
        if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) fail(errno);
        if (::close(fd_) != 0 && errno != EINTR) fail(errno);
    }
    fd_ = -1;
    return error_.isEmpty();
}

void Report::fail(int error_number) {
    if (error_.isEmpty())
        error_ = QStringLiteral("cannot write the report %1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(error_number)));
}

}  // namespace halvern::cli
