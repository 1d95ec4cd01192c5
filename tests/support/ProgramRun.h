#pragma once
// Programs as child processes (halvern-upload at HALVERN_UPLOAD_PATH, or a shell): started with
// their own settings directory and no terminal, waited for, their lines collected.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace halvern::test {

inline QStringList lines_of(const QByteArray& text) {
    QStringList out = QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
    if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
    return out;
}

struct ProgramResult {
    int code = -1;  // -1: killed, crashed or out of time
    QStringList out;
    QStringList err;
    // Standard error without the progress lines.
    QStringList messages() const {
        QStringList m;
        for (const QString& l : err)
            if (!l.startsWith(QLatin1String("Uploaded "))) m << l;
        return m;
    }
};

// The environment of a program whose user's settings are under config.
inline QProcessEnvironment environment_with_config(const QString& config) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    return env;
}

// Starts program with the user's settings under config; standard input is no terminal.
inline void start_program(QProcess& p, const QStringList& args, const QString& config,
                          const QString& program = QStringLiteral(HALVERN_UPLOAD_PATH)) {
    p.setProcessEnvironment(environment_with_config(config));
    p.setReadChannel(QProcess::StandardError);
    p.start(program, args);
    p.closeWriteChannel();
}

// Reads standard error into err until done(err) holds or the time is over.
template <class Done>
bool wait_until(QProcess& p, QByteArray& err, Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done(err) && clock.elapsed() < ms && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(50);
        err += p.readAllStandardError();
    }
    return done(err);
}

// Waits for the end; a program that does not end in time is killed and fails the test. err_so_far
// is what was read of standard error while it ran.
inline ProgramResult finish(QProcess& p, int ms = 30000, const QByteArray& err_so_far = {}) {
    ProgramResult r;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished(1000);
        ADD_FAILURE() << p.program().toStdString() << " did not end in time";
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    r.out = lines_of(p.readAllStandardOutput());
    r.err = lines_of(err_so_far + p.readAllStandardError());
    return r;
}

inline ProgramResult run_program(const QStringList& args, const QString& config, int ms = 30000,
                                 const QString& program = QStringLiteral(HALVERN_UPLOAD_PATH)) {
    QProcess p;
    start_program(p, args, config, program);
    return finish(p, ms);
}

}  // namespace halvern::test
