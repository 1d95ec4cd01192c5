#pragma once
// Paths of the working directory: joining a file name to it, finding a file in it without
// regard to letter case, and telling whether the directory can be used at all.

#include <QByteArray>
#include <QString>

namespace halvern {

// directory and name joined by one separator (none added when directory already ends in one).
QString join_path(const QString& directory, const QString& name);

// The full path of the ordinary file of directory named file_name, compared without regard
// to letter case (an exact match wins). Only ordinary files count: not hidden (names starting
// with '.') and, after following links, a regular file: not a directory, a FIFO, a socket or
// a device. Empty when there is none.
QString find_ordinary_file(const QString& directory, const QString& file_name);

// True when path, after following links, is a regular file.
bool is_regular_file(const QString& path);

// A file read whole (or its first max_bytes when that is not negative), never blocking on what is not a regular file: a
// FIFO, a socket or a device, also behind a link, is refused before it is opened, and what
// was opened is checked again, so nothing else is ever read.
struct RegularFile {
    enum class Outcome { Read, NotRegular, TooLarge, Failed };
    Outcome outcome = Outcome::Failed;
    QByteArray bytes;  // the content (at most max_bytes of it)
    qint64 size = 0;   // the file's length
    QString error;     // what went wrong, for every outcome but Read
};
// A file longer than refuse_above (when that is not negative) is TooLarge and not read.
RegularFile read_regular_file(const QString& path, qint64 max_bytes, qint64 refuse_above = -1);

enum class DirectoryAccess {
    Usable,    // an existing directory that can be listed
    Missing,   // does not exist, but would lie on an available volume
    Unusable,  // the path cannot be used: empty or relative, names something that is not a
               // directory, cannot be listed, or lies on a volume that is not ready
};

DirectoryAccess classify_directory(const QString& path);

}  // namespace halvern
