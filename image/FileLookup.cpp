#include "image/FileLookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvern {

namespace {
bool ends_with_separator(const QString& path) {
    return path.endsWith(QDir::separator()) || path.endsWith(QLatin1Char('/'));
}
}  // namespace

QString join_path(const QString& directory, const QString& name) {
    if (directory.isEmpty() || ends_with_separator(directory)) return directory + name;
    return directory + QDir::separator() + name;
}

QString find_ordinary_file(const QString& directory, const QString& file_name) {
    if (file_name.isEmpty() || file_name.contains(QLatin1Char('/')) || file_name.contains(QDir::separator()))
        return QString();
    if (file_name.startsWith(QLatin1Char('.'))) return QString();
    const QString exact = join_path(directory, file_name);
    if (is_regular_file(exact)) return exact;
    const QDir dir(directory);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (name.compare(file_name, Qt::CaseInsensitive) != 0) continue;
        const QString path = join_path(directory, name);
        if (is_regular_file(path)) return path;
    }
    return QString();
}

bool is_regular_file(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

RegularFile read_regular_file(const QString& path, qint64 max_bytes, qint64 refuse_above) {
    RegularFile file;
    const QString not_regular = QStringLiteral("Not a regular file");
    int fd = -1;
    {
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (path.isEmpty() || ::stat(native.constData(), &st) != 0) {
            file.error = QString::fromLocal8Bit(std::strerror(path.isEmpty() ? ENOENT : errno));
            return file;
        }
        if (!S_ISREG(st.st_mode)) {
            file.outcome = RegularFile::Outcome::NotRegular;
            file.error = not_regular;
            return file;
        }
        // O_NONBLOCK: should the name have become a FIFO since the look above, the open itself
        // does not wait for a writer; fstat then refuses it.
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            file.error = QString::fromLocal8Bit(std::strerror(errno));
            return file;
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        file.outcome = RegularFile::Outcome::NotRegular;
        file.error = not_regular;
        return file;
    }
    file.size = static_cast<qint64>(st.st_size);
    if (refuse_above >= 0 && file.size > refuse_above) {
        ::close(fd);
        file.outcome = RegularFile::Outcome::TooLarge;
        file.error = QStringLiteral("The file is larger than %1 MiB.").arg(refuse_above / (1024 * 1024));
        return file;
    }
    const qint64 wanted = max_bytes >= 0 ? std::min(file.size, max_bytes) : file.size;
    file.bytes = QByteArray(static_cast<qsizetype>(wanted), Qt::Uninitialized);
    qint64 got = 0;
    while (got < wanted) {
        const ssize_t n = ::read(fd, file.bytes.data() + got, static_cast<std::size_t>(wanted - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            file.error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            file.bytes.clear();
            return file;
        }
        if (n == 0) break;  // the file shrank meanwhile: what is there is what it holds
        got += n;
    }
    ::close(fd);
    if (got < wanted) file.bytes.truncate(static_cast<qsizetype>(got));
    if (max_bytes < 0 || got < max_bytes) file.size = std::min(file.size, got);
    file.outcome = RegularFile::Outcome::Read;
    return file;
}

DirectoryAccess classify_directory(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(0)) || QDir::isRelativePath(path)) return DirectoryAccess::Unusable;
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isDir() || !info.isReadable() || !info.isExecutable()) return DirectoryAccess::Unusable;
        const QStorageInfo volume(path);
        if (!volume.isValid() || !volume.isReady()) return DirectoryAccess::Unusable;
        return DirectoryAccess::Usable;
    }
    // Not there: it is merely missing when its nearest existing ancestor is a directory we can
    // look into on a ready volume; a file in the way, or an unreadable or unready volume, makes
    // the path unusable.
    QString ancestor = QDir::cleanPath(path);
    for (;;) {
        const QString parent = QFileInfo(ancestor).path();
        if (parent == ancestor) return DirectoryAccess::Unusable;
        ancestor = parent;
        const QFileInfo up(ancestor);
        if (!up.exists()) continue;
        if (!up.isDir() || !up.isExecutable()) return DirectoryAccess::Unusable;
        const QStorageInfo volume(ancestor);
        return volume.isValid() && volume.isReady() ? DirectoryAccess::Missing : DirectoryAccess::Unusable;
    }
}

}  // namespace halvern
