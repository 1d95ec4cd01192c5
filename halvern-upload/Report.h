#pragma once
// The --report file: a record that runs only ever add to. Each line is one JSON object of one
// port, stamped with the run it belongs to ("run", the same for every line of one run) and
// the time it was written ("time", ISO 8601 with the zone). The file is opened for appending
// and never truncated; "-" is standard output.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvern::cli {

// "2026-12-08T09:30:00+00:00": the time with its offset from UTC, to the second.
QString iso_time(const QDateTime& time);

// The object of one port (a JSON object on one line, as report_line makes it) with "run" and
// "time" in front of its own keys.
QByteArray stamped_line(const QByteArray& object, const QString& run, const QDateTime& time);

// The ports to go over again: those whose latest line in the report at path for the release
// file release (its absolute path, as the upload writes it) did not end "uploaded",
// "verified" or "current", in the order of their first such line. The lines of other
// releases and those without a port (the fleet's questions) are passed over. Empty when every
// port ended well; none, with error set, for a report that cannot be read, a line that is not
// a JSON object or a port name that --port would not take.
std::optional<QStringList> failed_ports(const QString& path, const QString& release, QString& error);

class Report {
public:
    Report() = default;
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
    ~Report();

    // Opens path for appending (created when missing), "-" standard output. On failure
    // error() says why.
    bool open(const QString& path);
    bool is_standard_output() const { return fd_ == 1; }

    // One line of the run; a line that cannot be written whole is remembered as the error.
    void add(const QByteArray& object);

    // Closes the file; true when every line was written.
    bool close();

    // "cannot write the report PATH: REASON" after the first failure; empty before.
    QString error() const { return error_; }
    QString run() const { return run_; }

private:
    void fail(int error_number);

    QString path_;
    QString run_;
    QString error_;
    int fd_ = -1;
};

}  // namespace halvern::cli
