#include "device/ServerLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <mutex>
#include <set>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvern {

namespace {

// The keys this process holds: a second take in the same program is told apart from another
// program's.
std::mutex held_mutex;
std::set<QString>& held_here() {
    static std::set<QString> keys;
    return keys;
}

bool open_to_everyone(const char* dir) {
    struct stat st {};
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH) &&
           ::access(dir, W_OK | X_OK) == 0;
}

QString owner_of(const struct stat& st) {
    if (const passwd* pw = ::getpwuid(st.st_uid)) return QString::fromLocal8Bit(pw->pw_name);
    return QStringLiteral("user %1").arg(st.st_uid);
}

}  // namespace

QString ServerLock::directory() {
    for (const char* dir : {"/run/lock", "/tmp"})
        if (open_to_everyone(dir)) return QString::fromLatin1(dir);
    return QString();
}

QString ServerLock::file_name(const QString& key) {
    QString safe = key;
    for (QChar& ch : safe)
        if (!ch.isLetterOrNumber() && ch != QLatin1Char('.') && ch != QLatin1Char('-')) ch = QLatin1Char('_');
    return QStringLiteral("halvern-net-%1.lock").arg(safe);
}

ServerLock::Outcome ServerLock::take(const QString& key) {
    release();
    why_.clear();
    {
        const std::lock_guard lock(held_mutex);
        if (held_here().count(key)) {
            why_ = QStringLiteral("already open in this program");
            return Outcome::kHeldHere;
        }
    }
    const QString dir = directory();
    if (dir.isEmpty()) {
        why_ = QStringLiteral("no lock directory that every user may write (/run/lock, /tmp)");
        return Outcome::kNoDirectory;
    }
    const QString path = QDir(dir).filePath(file_name(key));
    const QByteArray native = QFile::encodeName(path);
    // A few rounds at most: each one is lost only to a holder that removed the file meanwhile.
    for (int round = 0; round < 5; ++round) {
        // An existing file is opened without O_CREAT: in a sticky directory the system refuses
        // O_CREAT on another user's file (fs.protected_regular).
        int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(native.constData(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd >= 0) ::fchmod(fd, 0644);  // whatever the umask
        }
        if (fd < 0) {
            struct stat st {};
            if ((errno == EACCES || errno == EPERM) && ::lstat(native.constData(), &st) == 0 && st.st_uid != ::geteuid()) {
                why_ = QStringLiteral("in use by another user (the lock file %1 of %2 cannot be opened)")
                           .arg(path, owner_of(st));
                return Outcome::kOtherUser;
            }
            why_ = QStringLiteral("the lock file %1 cannot be opened: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
            return Outcome::kNoDirectory;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            why_ = QStringLiteral("in use by another program (lock file %1)").arg(path);
            return Outcome::kInUse;
        }
        // The last holder may have removed the file between our open and our lock.
        struct stat held {}, now {};
        if (::fstat(fd, &held) != 0 || ::stat(native.constData(), &now) != 0 || held.st_dev != now.st_dev ||
            held.st_ino != now.st_ino) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        path_ = path;
        key_ = key;
        const std::lock_guard lock(held_mutex);
        held_here().insert(key);
        return Outcome::kTaken;
    }
    why_ = QStringLiteral("in use by another program (lock file %1)").arg(path);
    return Outcome::kInUse;
}

void ServerLock::release() {
    if (fd_ < 0) return;
    // Removed while still held (see the header); another user's file stays where it is.
    ::unlink(QFile::encodeName(path_).constData());
    ::close(fd_);
    fd_ = -1;
    const std::lock_guard lock(held_mutex);
    held_here().erase(key_);
}

}  // namespace halvern
