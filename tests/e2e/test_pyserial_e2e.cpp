// halvern-upload through a serial device server the project did not write: pyserial's RFC 2217
// server side (tests/e2e/rfc2217_bridge.py) in front of the simulated projector's
// pseudo-terminal, set up at 9600 baud. The device search and the upload go through it; the
// line must follow the baud rate the tool asks for, and the projector must hold the release
// afterwards.

#include "tests/support/ProgramRun.h"
#include "tests/support/SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern::test;

namespace {

// Debian's own interpreter, where python3-serial is installed.
const QString kPython = QStringLiteral("/usr/bin/python3");

struct Bridge {
    QProcess process;
    QString address;
    explicit Bridge(const QString& device) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(kPython, {QStringLiteral(RFC2217_BRIDGE_PATH), device});
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && process.state() != QProcess::NotRunning && clock.elapsed() < 10000)
            process.waitForReadyRead(100);
        const QString line = QString::fromLatin1(process.readLine()).trimmed();
        if (line.startsWith("listening ")) address = "rfc2217://127.0.0.1:" + line.mid(10);
    }
    ~Bridge() {
        process.kill();
        process.waitForFinished(3000);
    }
};

TEST(PyserialServer, FindAndUploadThroughTheServer) {
    if (QProcess::execute(kPython, {"-c", "import serial.rfc2217"}) != 0)
        GTEST_SKIP() << "python3-serial is not installed (scripts/setup.sh installs it)";
    QTemporaryDir tmp;
    const QString releases = tmp.filePath("releases"), dumps = tmp.filePath("flashed"), config = tmp.filePath("config");
    ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {releases}), 0);
    ASSERT_TRUE(QDir().mkpath(dumps));
    SimProcess sim(tmp.filePath("projector"), {"--state", "on", "--cooldown", "1", "--dump", dumps, "--model", "PJ-SIM",
                                                "--version", "0100", "--baud-pace"});
    ASSERT_TRUE(sim.ready());
    Bridge server(sim.slave());
    ASSERT_FALSE(server.address.isEmpty()) << "the bridge did not start";

    const QStringList port{"--port", server.address, "--baud", "9600"};
    const ProgramResult find = run_program(QStringList{"--find"} + port, config, 20000);
    EXPECT_EQ(find.code, 0) << find.err.join('\n').toStdString();
    EXPECT_EQ(find.out, (QStringList{"Model: PJ-SIM", "O/S Version: 01.00"}));
    const ProgramResult upload = run_program(port + QStringList{"--yes", "--dir", releases, "--test-poll-interval-ms",
                                                               "100", "SMALL.PJV"},
                                             config, 60000);
    EXPECT_EQ(upload.code, 0) << upload.err.join('\n').toStdString();
    EXPECT_TRUE(flashed_release(releases, dumps, {"TINY"}));
    // The device commands ran at the configured rate, the transfer at 38400 on the projector's line.
    EXPECT_EQ(sim.rate_at("cmd I"), "9600 baud");
    EXPECT_EQ(sim.rate_at("msg 7 "), "38400 baud");
}

}  // namespace
