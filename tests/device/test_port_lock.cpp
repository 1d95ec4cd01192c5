// A serial port is one device whatever its name, held by one program at a time whoever runs
// it, and a port that will not open says why.

#include "common/SettingsStore.h"
#include "device/PortDiagnosis.h"
#include "device/SerialDeviceLibrary.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvern {
namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    QString path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = QString::fromLocal8Bit(name);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
};

struct PortLock : ::testing::Test {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath(QStringLiteral("settings.ini"))};
    SerialDeviceLibrary library{settings};
    Pty pty;

    std::int32_t open(const QString& name) {
        std::int32_t handle = 0;
        return library.init_port_timeouts(handle, name.toLocal8Bit().constData(), 38400, 200);
    }
};

TEST_F(PortLock, OpenFailuresSayWhy) {
    ASSERT_FALSE(pty.path.isEmpty());
    const QString missing = dir.filePath(QStringLiteral("ttyUSB9"));
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    ASSERT_EQ(::symlink(missing.toLocal8Bit().constData(), dangling.toLocal8Bit().constData()), 0);
    const QString regular = dir.filePath(QStringLiteral("plain"));
    QFile plain(regular);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    struct Row {
        QString name;
        std::int32_t result;
        QString why;
    } rows[] = {
        {missing, kPortNotFound, missing + QStringLiteral(": not found")},
        {dangling, kPortNotFound, dangling + QStringLiteral(": not found")},
        {regular, kPortNotFound, regular + QStringLiteral(": not a serial device")},
        {QStringLiteral("/dev/null"), kPortNotFound, QStringLiteral("/dev/null: not a serial device")},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(open(row.name), row.result) << row.name.toStdString();
        EXPECT_EQ(library.open_failure(), row.why);
    }
    // A port that opens leaves no cause behind.
    EXPECT_EQ(open(pty.path), kOk);
    EXPECT_TRUE(library.open_failure().isEmpty());
    EXPECT_EQ(open(pty.path), kAccessDenied);
    EXPECT_EQ(library.open_failure(), pty.path + QStringLiteral(": already open in this program"));

    // Permission denied names the group that owns the device (root is never denied, so the
    // words are checked on their own).
    struct stat st {};
    ASSERT_EQ(::stat(pty.path.toLocal8Bit().constData(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(describe_port_trouble(PortTrouble::kDenied, pty.path),
              pty.path + QStringLiteral(": permission denied (the device belongs to group %1)")
                             .arg(QString::fromLocal8Bit(g->gr_name)));
}

// Another program holding the lock on the device, through any name of it: refused, with the
// program named. Once it lets go, the port opens.
TEST_F(PortLock, AnotherProgramsLockIsHonoured) {
    ASSERT_FALSE(pty.path.isEmpty());
    const QString link = dir.filePath(QStringLiteral("port"));
    ASSERT_EQ(::symlink(pty.path.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), pty.path, QStringLiteral("sleep"),
                                           QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted());
    // Until the lock is taken the port may still open; wait for it to be refused.
    QElapsedTimer clock;
    clock.start();
    std::int32_t result = kOk;
    while (clock.elapsed() < 5000) {
        std::int32_t handle = 0;
        result = library.init_port_timeouts(handle, link.toLocal8Bit().constData(), 38400, 200);
        if (result != kOk) break;
        library.close_port(handle);
        QThread::msleep(20);
    }
    EXPECT_EQ(result, kAccessDenied);
    EXPECT_TRUE(library.open_failure().startsWith(link + QStringLiteral(": in use by process")))
        << library.open_failure().toStdString();
    EXPECT_TRUE(library.open_failure().contains(QStringLiteral("(sleep)"))) << library.open_failure().toStdString();

    holder.kill();
    holder.waitForFinished(3000);
    EXPECT_EQ(open(link), kOk);
}

}  // namespace
}  // namespace halvern
