#include "device/PortDiagnosis.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvern {

QString processes_holding(dev_t rdev) {
    QStringList holders;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString& pid : pids) {
        if (pid == self) continue;
        const QString fd_dir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fd_dir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            struct stat st {};
            if (::stat((fd_dir + QLatin1Char('/') + fd).toLocal8Bit().constData(), &st) != 0) continue;
            if (!S_ISCHR(st.st_mode) || st.st_rdev != rdev) continue;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString name =
                comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
            holders << (name.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(pid, name));
            break;
        }
    }
    return holders.join(QStringLiteral(", "));
}

QString describe_port_trouble(PortTrouble trouble, const QString& path) {
    const QByteArray native = path.toLocal8Bit();
    struct stat st {};
    const bool exists = ::stat(native.constData(), &st) == 0;
    switch (trouble) {
    case PortTrouble::kNone:
        return QString();
    case PortTrouble::kNotFound:
        return path + QStringLiteral(": not found");
    case PortTrouble::kNotSerial:
        return path + QStringLiteral(": not a serial device");
    case PortTrouble::kDenied: {
        QString group;
        if (exists) {
            if (const struct group* g = ::getgrgid(st.st_gid)) group = QString::fromLocal8Bit(g->gr_name);
            else group = QString::number(st.st_gid);
        }
        return path + (group.isEmpty() ? QStringLiteral(": permission denied")
                                       : QStringLiteral(": permission denied (the device belongs to group %1)").arg(group));
    }
    case PortTrouble::kHeldHere:
        return path + QStringLiteral(": already open in this program");
    case PortTrouble::kInUse: {
        const QString holders = exists && S_ISCHR(st.st_mode) ? processes_holding(st.st_rdev) : QString();
        if (!holders.isEmpty())
            return path + QStringLiteral(": in use by process%1 %2")
                              .arg(holders.contains(QLatin1Char(',')) ? QStringLiteral("es") : QString(), holders);
        return path + QStringLiteral(": in use by another program");
    }
    }
    return QString();
}

}  // namespace halvern
