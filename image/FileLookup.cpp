#include "image/FileLookup.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

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
    const QFileInfo exact(join_path(directory, file_name));
    if (exact.isFile() && !exact.isHidden()) return exact.filePath();
    const QDir dir(directory);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names)
        if (name.compare(file_name, Qt::CaseInsensitive) == 0) return join_path(directory, name);
    return QString();
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
