#pragma once
// What the file-reader fuzz targets share: a scratch directory that lives as long as the
// fuzzing process, and the writing of its files.

#include "common/Reporter.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace halvern::fuzz {

inline const QString& scratch_directory() {
    static QTemporaryDir dir;
    static const QString path = dir.path();
    return path;
}

inline QString write_file(const QString& directory, const QString& name, const QByteArray& bytes) {
    const QString path = QDir(directory).filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
    return path;
}

inline QByteArray bytes_of(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

}  // namespace halvern::fuzz
