#pragma once
// The version control file of a release (.PJV or .SWV): a 64-byte header, sixteen 32-byte
// file entries and a 192-byte trailer, 768 bytes in all (576 without the trailer). Numbers
// are 4-byte big-endian; text fields are single-byte characters padded with NUL.

#include "common/Reporter.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvern {

inline constexpr int kVersionControlLength = 768;     // header, entries and trailer
inline constexpr int kVersionControlMinLength = 576;  // header and entries, no trailer
inline constexpr int kFileEntries = 16;

struct FileEntry {
    std::uint8_t sequence;            // entry i holds i + 1
    char file_name[15];               // base name of NAME.mot; empty: unused entry
    std::uint8_t start_address[4];
    std::uint8_t reserved_after_start[4];  // not interpreted (goes to the device with the file)
    std::uint8_t end_address[4];
    std::uint8_t reserved_after_end[4];    // not interpreted

    QString name() const;             // the characters before the first NUL (all 15 without one)
    std::int64_t start() const;       // start_address, big-endian
    std::int64_t end() const;         // end_address, big-endian
};
static_assert(sizeof(FileEntry) == 32);
static_assert(offsetof(FileEntry, reserved_after_start) == 20 && offsetof(FileEntry, reserved_after_end) == 28);

struct VersionControlRecord {
    char header_text[16];
    char release_name[16];
    char release_version[16];
    // The fields marked reserved are not interpreted: they reach the device only as part of
    // the whole file.
    std::uint8_t reserved_before_length[4];   // bytes 48 to 51
    std::uint8_t file_length[4];              // bytes 52 to 55: the file's own length
    std::uint8_t reserved_after_length[4];    // bytes 56 to 59
    std::uint8_t reserved_before_entries[4];  // bytes 60 to 63
    FileEntry files[16];
    char trailer[192];

    QString release_name_text() const;   // before the first NUL (all 16 without one)
    // The first four characters of release_version as "12.34" (NUL where the field holds NUL).
    QString release_version_text() const;

    // The record of a file's first bytes: bytes missing from a short file read as NUL.
    static VersionControlRecord from_bytes(const QByteArray& bytes);
};
static_assert(sizeof(VersionControlRecord) == 768);
static_assert(offsetof(VersionControlRecord, reserved_before_length) == 48 &&
              offsetof(VersionControlRecord, file_length) == 52 &&
              offsetof(VersionControlRecord, reserved_before_entries) == 60 && offsetof(VersionControlRecord, files) == 64);

// A window start..end fits the image buffer when end >= start and it spans at most
// 1,048,576 addresses.
bool window_fits_image(std::int64_t start, std::int64_t end);
// The box shown for a window that does not fit: NAME is the entry name without extension.
QString window_does_not_fit_message(const QString& name);

// Message 4: the NAME.mot of a used entry is missing (or is not a regular file).
QString missing_motorola_file_message(const QString& name);

// The byte total that sizes the progress bar, and the power of two it was divided by.
struct ProgressTotals {
    double progress_total = 0;
    std::int16_t progress_divisor = 1;
};

// Big-endian value of count bytes from start, most significant first; count 0 gives 0.
// Wide arithmetic: 4-byte values of 2^31 and above come out positive. count is at most 7;
// bytes beyond the end of the span (a caller's fault) read as 0.
std::int64_t get_big_endian(std::span<const std::uint8_t> bytes, int start, int count);
inline std::int64_t get_big_endian(const QByteArray& bytes, int start, int count) {
    return get_big_endian(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size())), start, count);
}

// Reads and validates the version control file at path (the selected release's element of
// version_files); working_directory is where NAME.mot files are looked for. Shows its own
// messages. True when the file is valid and at least one entry is used; the record holds the
// file (zero-filled past its end) and totals are set. Checks, in order: the length, the
// declared length, then entry by entry its sequence, its window and its NAME.mot (found
// without regard to letter case); the first failing check ends it.
bool read_version_control_file(const QString& path, const QString& working_directory, VersionControlRecord& record,
                               ProgressTotals& totals, Reporter& reporter);

}  // namespace halvern
