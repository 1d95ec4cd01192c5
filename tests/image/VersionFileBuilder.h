#pragma once
// Builds version control files byte by byte for the tests: a 768-byte layout with every
// entry's sequence byte set, file_length matching, and helpers to name entries and windows.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>

namespace halvern::test {

class VersionFileBuilder {
public:
    explicit VersionFileBuilder(int length = 768) : bytes_(length, '\0') {
        for (int i = 0; i < 16; ++i) bytes_[64 + 32 * i] = static_cast<char>(i + 1);
        put(52, static_cast<std::uint32_t>(length));
    }

    VersionFileBuilder& name(const QByteArray& text) { return text_at(16, text, 16); }
    VersionFileBuilder& version(const QByteArray& text) { return text_at(32, text, 16); }
    VersionFileBuilder& entry(int i, const QByteArray& file_name, std::uint32_t start, std::uint32_t end) {
        text_at(64 + 32 * i + 1, file_name, 15);
        put(64 + 32 * i + 16, start);
        put(64 + 32 * i + 24, end);
        return *this;
    }
    VersionFileBuilder& sequence(int i, std::uint8_t value) {
        bytes_[64 + 32 * i] = static_cast<char>(value);
        return *this;
    }
    VersionFileBuilder& put(int offset, std::uint32_t value) {
        for (int k = 0; k < 4; ++k) bytes_[offset + k] = static_cast<char>(value >> (24 - 8 * k));
        return *this;
    }

    const QByteArray& bytes() const { return bytes_; }

    // Writes the file into directory and returns its full path.
    QString write(const QString& directory, const QString& file_name) const { return write_file(directory, file_name, bytes_); }

    static QString write_file(const QString& directory, const QString& file_name, const QByteArray& data) {
        const QString path = QDir(directory).filePath(file_name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write(data);
        return path;
    }

private:
    VersionFileBuilder& text_at(int offset, const QByteArray& text, int width) {
        bytes_.replace(offset, width, QByteArray(width, '\0'));
        bytes_.replace(offset, qMin<qsizetype>(text.size(), width), text.left(width));
        return *this;
    }

    QByteArray bytes_;
};

}  // namespace halvern::test
