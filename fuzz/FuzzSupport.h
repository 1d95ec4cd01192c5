#pragma once
// What the file-reader fuzz targets share: a reporter that keeps the last box, and a scratch
// directory that lives as long as the fuzzing process.

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

class KeepingReporter : public Reporter {
public:
    QStringList boxes;
    void message_box(const QString& text, const QString&) override { boxes << text; }
    bool question(const QString&, const QString&) override { return false; }
    void show_status(int, const QString&) override {}
    void yield() override {}
    void pause(int) override {}
};

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
