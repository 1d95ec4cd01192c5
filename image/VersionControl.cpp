#include "image/VersionControl.h"

#include "image/FileLookup.h"
#include "image/MotorolaReader.h"


#include <cstring>

namespace halvern {

namespace {

// The characters of a fixed text field before its first NUL, all of them without one.
QString field_text(const char* field, std::size_t size) {
    const void* nul = std::memchr(field, 0, size);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : size;
    return QString::fromLatin1(field, static_cast<qsizetype>(length));
}

std::int64_t four_bytes(const std::uint8_t (&bytes)[4]) { return get_big_endian(bytes, 0, 4); }

}  // namespace

QString FileEntry::name() const { return field_text(file_name, sizeof file_name); }
std::int64_t FileEntry::start() const { return four_bytes(start_address); }
std::int64_t FileEntry::end() const { return four_bytes(end_address); }

QString VersionControlRecord::release_name_text() const { return field_text(release_name, sizeof release_name); }

QString VersionControlRecord::release_version_text() const {
    const QString digits = QString::fromLatin1(release_version, 4);
    return digits.left(2) + QLatin1Char('.') + digits.mid(2, 2);
}

VersionControlRecord VersionControlRecord::from_bytes(const QByteArray& bytes) {
    VersionControlRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, bytes.constData(), std::min<std::size_t>(sizeof record, static_cast<std::size_t>(bytes.size())));
    return record;
}

bool window_fits_image(std::int64_t start, std::int64_t end) {
    return end >= start && end - start < kImageBufferSize;
}

QString window_does_not_fit_message(const QString& name) {
    return QStringLiteral("Motorola file ") + name +
           QStringLiteral(".MOT has an address window that does not fit the image buffer.  Unable to continue processing.");
}

QString missing_motorola_file_message(const QString& name) {
    return QStringLiteral("Motorola file ") + name + QStringLiteral(".MOT is missing.  Unable to continue processing.");
}

std::int64_t get_big_endian(std::span<const std::uint8_t> bytes, int start, int count) {
    count = std::min(count, 7);
    std::int64_t value = 0;
    for (int k = 0; k < count; ++k) {
        const std::int64_t index = static_cast<std::int64_t>(start) + k;
        const std::uint8_t byte =
            index >= 0 && index < static_cast<std::int64_t>(bytes.size()) ? bytes[static_cast<std::size_t>(index)] : 0;
        value = value * 256 + byte;
    }
    return value;
}

bool read_version_control_file(const QString& path, const QString& working_directory, VersionControlRecord& record,
                               ProgressTotals& totals, Reporter& reporter) {
    const QString unable = QStringLiteral("  Unable to continue processing.");
    const RegularFile file = read_regular_file(path, kVersionControlLength);
    if (file.outcome != RegularFile::Outcome::Read) {
        reporter.message_box(QStringLiteral("Version control file ") + path + QStringLiteral(" cannot be opened.") + unable);
        return false;
    }
    const qint64 length = file.size;
    if (length < kVersionControlMinLength) {
        reporter.message_box(QStringLiteral("Version control file ") + path +
                             QStringLiteral(" is not the minimum file length.") + unable);
        return false;
    }
    record = VersionControlRecord::from_bytes(file.bytes);

    if (four_bytes(record.file_length) != length) {
        reporter.message_box(QStringLiteral("Specified file length of the version control file ") + path +
                             QStringLiteral(" does not match the actual file length.") + unable);
        return false;
    }

    std::int64_t total = 0;
    bool found = false;
    for (int i = 0; i < kFileEntries; ++i) {
        const FileEntry& entry = record.files[i];
        if (entry.sequence != i + 1) {
            reporter.message_box(QStringLiteral("Version control file ") + path +
                                 QStringLiteral(" is not formatted correctly.  Unable to continue"));
            return false;
        }
        const QString name = entry.name();
        if (name.isEmpty()) continue;
        // A window that is reversed or larger than the image buffer cannot be loaded.
        if (!window_fits_image(entry.start(), entry.end())) {
            reporter.message_box(window_does_not_fit_message(name));
            return false;
        }
        total += entry.end() - entry.start();
        if (find_ordinary_file(working_directory, name + QStringLiteral(".mot")).isEmpty()) {
            reporter.message_box(missing_motorola_file_message(name));
            return false;
        }
        found = true;
    }

    std::int16_t divisor = 1;
    while (total > 32767) {
        total /= 2;
        divisor = static_cast<std::int16_t>(divisor * 2);
    }
    totals.progress_total = static_cast<double>(total);
    totals.progress_divisor = divisor;
    return found;
}

}  // namespace halvern
