#pragma once
// --log-dir: one file per port and run holding everything that port did, each line with its
// time, in full whatever the terminal shows (-q, -v). The file is named so that the logs of
// a directory sort by the time their run started and never collide: runs differ in their
// start or run id, ports in their name.

#include "common/Reporter.h"
#include "halvern-upload/Console.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

class QFile;

namespace halvern::cli {

class PortLog {
public:
    PortLog();
    ~PortLog();
    PortLog(const PortLog&) = delete;
    PortLog& operator=(const PortLog&) = delete;

    // "YYYYMMDD-HHMMSS-PORT-RUN.log": PORT with every character but letters, digits, '.', '_'
    // and '-' made '_' ("/dev/ttyUSB0" gives "_dev_ttyUSB0"), RUN the run id's first 8 characters.
    static QString file_name(const QDateTime& start, const QString& port, const QString& run);

    // Creates dir where missing and the port's file in it (never an existing one). On failure
    // error() says why.
    bool open(const QString& dir, const QString& port, const QString& run, const QDateTime& start);
    // "HH:mm:ss.zzz text", written at once; from any thread.
    void line(const QString& text);
    // Closes the file; true when every line was written.
    bool close();

    QString path() const;
    // "cannot write the log PATH: REASON" after the first failure; empty before.
    QString error() const;

private:
    void fail(const QString& reason);
    mutable std::mutex mutex_;
    std::unique_ptr<QFile> file_;
    QString error_;
};

// The logs of one run, one per port, all made before any port is touched (a log that cannot
// be written is known before anything is sent). Without --log-dir there are none.
class PortLogs {
public:
    // One log per port in dir (made where missing), named with the run's start and run id.
    // False when any cannot be made; error() says why.
    bool open(const QString& dir, const QStringList& ports, const QString& run);
    // The port's log; null when there is none.
    PortLog* of(const QString& port) const;
    // Closes every log; false when any line could not be written.
    bool close();
    QString error() const { return error_; }

private:
    std::map<QString, std::unique_ptr<PortLog>> logs_;
    QString error_;
};

// Where the detail of one port goes (device steps, retries, phase changes): its log, when it
// has one, and with -v (verbose not null) a line on standard error that starts with the time
// of day to the millisecond (time_of_day; the system's clock when empty).
std::function<void(const QString&)> port_detail(PortLog* log, Console* verbose, std::function<QTime()> time_of_day = {});

// Tells trace of every box, question (with its answer) and status line, as the report words
// them, and passes each on to the face.
class TracingReporter : public Reporter {
public:
    TracingReporter(Reporter& face, std::function<void(const QString&)> trace)
        : face_(face), trace_(std::move(trace)) {}
    void message_box(const QString& text, const QString& caption = QString()) override;
    bool question(const QString& text, const QString& caption = QString()) override;
    bool ask(Question which, const QString& text, const QString& caption = QString()) override;
    void show_status(int icon, const QString& text) override;
    void yield() override { face_.yield(); }
    void pause(int ms) override { face_.pause(ms); }

private:
    Reporter& face_;
    std::function<void(const QString&)> trace_;
};

}  // namespace halvern::cli
