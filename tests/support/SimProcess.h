#pragma once
// projector-sim as a child process on a pseudo-terminal, reached through a symbolic link.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <signal.h>

namespace halvern::test {

class SimProcess {
public:
    SimProcess(const QString& program, const QString& link, QStringList args) {
        args << QStringLiteral("--link") << link;
        process_.start(program, args);
        QElapsedTimer clock;
        clock.start();
        while (!err_.contains("ready ") && clock.elapsed() < 5000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(50);
            err_ += process_.readAllStandardError();
        }
        const int at = err_.indexOf("ready ");
        if (at >= 0) {
            const int end = err_.indexOf('\n', at);
            slave_ = QString::fromLocal8Bit(err_.mid(at + 6, end < 0 ? -1 : end - at - 6)).trimmed();
        }
    }
    ~SimProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(1000);
    }
    bool ready() const { return !slave_.isEmpty(); }
    // The pseudo-terminal's own device path.
    const QString& slave() const { return slave_; }
    // Pulls the plug: the device side of the line disappears at once.
    void kill() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(1000);
    }
    // Everything the simulator logged so far.
    QByteArray log() {
        process_.waitForReadyRead(10);  // without an event loop the pipe is read only here
        err_ += process_.readAllStandardError();
        return err_;
    }

private:
    QProcess process_;
    QByteArray err_;
    QString slave_;
};

}  // namespace halvern::test
