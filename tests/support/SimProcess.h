#pragma once
// projector-sim (PROJECTOR_SIM_PATH) as a child process on a pseudo-terminal, reached through a
// symbolic link, and the check of what it flashed.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace halvern::test {

class SimProcess {
public:
    SimProcess(const QString& link, QStringList args) {
        args << QStringLiteral("--link") << link;
        process_.setReadChannel(QProcess::StandardError);
        process_.start(QStringLiteral(PROJECTOR_SIM_PATH), args);
        wait_for("ready ", 5000);
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
    // Collects the log until it shows text or the time is over.
    bool wait_for(const QByteArray& text, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!err_.contains(text) && clock.elapsed() < ms && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(50);
            err_ += process_.readAllStandardError();
        }
        err_ += process_.readAllStandardError();
        return err_.contains(text);
    }
    // Everything the simulator logged so far (read until it has been quiet for 100 ms).
    QByteArray log() {
        QElapsedTimer clock;
        clock.start();
        while (process_.state() == QProcess::Running && process_.waitForReadyRead(100) && clock.elapsed() < 2000)
            err_ += process_.readAllStandardError();
        return err_ += process_.readAllStandardError();
    }
    // The rate the line ran at when the first log line containing `what` was written (the
    // simulator paces its line at the rate set on it, and logs every change of it).
    QString rate_at(const QByteArray& what) {
        QString rate;
        for (const QByteArray& l : log().split('\n')) {
            if (l.contains(what)) return rate;
            if (l.startsWith("line at ")) rate = QString::fromLatin1(l.mid(8));
        }
        return QStringLiteral("(no '%1' logged)").arg(QString::fromLatin1(what));
    }

private:
    QProcess process_;
    QByteArray err_;
    QString slave_;
};

// Whether the projector holds exactly the release: each file's window, then FF to the end of its
// last block of 16,364 bytes.
inline ::testing::AssertionResult flashed_release(const QString& release_dir, const QString& dump_dir,
                                                  const QStringList& names) {
    for (const QString& name : names) {
        QFile expected(release_dir + QLatin1Char('/') + name + QStringLiteral(".expected.bin"));
        QFile got(dump_dir + QLatin1Char('/') + name + QStringLiteral(".bin"));
        if (!expected.open(QIODevice::ReadOnly) || !got.open(QIODevice::ReadOnly))
            return ::testing::AssertionFailure() << name.toStdString() << ": image or dump missing";
        const QByteArray e = expected.readAll();
        const QByteArray g = got.readAll();
        const qsizetype pad = g.size() - e.size();
        if (pad < 0 || pad >= 16364 || g.size() % 16364 != 0)
            return ::testing::AssertionFailure() << name.toStdString() << ": " << g.size() << " bytes flashed for "
                                                 << e.size();
        if (g.left(e.size()) != e || g.mid(e.size()) != QByteArray(pad, '\xFF'))
            return ::testing::AssertionFailure() << name.toStdString() << ": flashed bytes differ from the image";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace halvern::test
