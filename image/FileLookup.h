#pragma once
// Paths of the working directory: joining a file name to it, finding a file in it without
// regard to letter case, and telling whether the directory can be used at all.

#include <QString>

namespace halvern {

// directory and name joined by one separator (none added when directory already ends in one).
QString join_path(const QString& directory, const QString& name);

// The full path of the ordinary file of directory named file_name, compared without regard
// to letter case (an exact match wins). Only ordinary files count: not hidden (names starting
// with '.'), not directories, not devices. Empty when there is none.
QString find_ordinary_file(const QString& directory, const QString& file_name);

enum class DirectoryAccess {
    Usable,    // an existing directory that can be listed
    Missing,   // does not exist, but would lie on an available volume
    Unusable,  // the path cannot be used: empty or relative, names something that is not a
               // directory, cannot be listed, or lies on a volume that is not ready
};

DirectoryAccess classify_directory(const QString& path);

}  // namespace halvern
