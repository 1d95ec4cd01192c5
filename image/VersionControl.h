#pragma once
// The version control file of a release (.PJV or .SWV): a 64-byte header, sixteen 32-byte
// file entries and a 192-byte trailer, 768 bytes in all (576 without the trailer). Numbers
// are 4-byte big-endian; text fields are single-byte characters padded with NUL.

#include "upload/Reporter.h"

#include <QString>

#include <cstdint>
#include <span>

namespace halvern {

struct FileEntry {
    std::uint8_t sequence;            // entry i holds i + 1
    char file_name[15];               // base name of NAME.mot; empty: unused entry
    std::uint8_t start_address[4];
    std::uint8_t bytes_20[4];
    std::uint8_t end_address[4];
    std::uint8_t bytes_28[4];

    QString name() const;             // the characters before the first NUL (all 15 without one)
    std::int64_t start() const;       // start_address, big-endian
    std::int64_t end() const;         // end_address, big-endian
};
static_assert(sizeof(FileEntry) == 32);

struct VersionControlRecord {
    char header_text[16];
    char release_name[16];
    char release_version[16];
    std::uint8_t bytes_48[4];
    std::uint8_t file_length[4];
    std::uint8_t bytes_56[4];
    std::uint8_t bytes_60[4];
    FileEntry files[16];
    char trailer[192];

    QString release_name_text() const;   // before the first NUL (all 16 without one)
};
static_assert(sizeof(VersionControlRecord) == 768);

// The byte total that sizes the progress bar, and the power of two it was divided by.
struct ProgressTotals {
    double progress_total = 0;
    std::int16_t progress_divisor = 1;
};

// Big-endian value of count (0 to 4) bytes from start, most significant first. Wide
// arithmetic: 4-byte values of 2^31 and above come out positive.
std::int64_t get_big_endian(std::span<const std::uint8_t> bytes, int start, int count);

// Reads and validates the version control file at path (the selected release's element of
// version_files); working_directory is where NAME.mot files are looked for. Shows its own
// messages. True when the file is valid and at least one entry is used.
bool read_version_control_file(const QString& path, const QString& working_directory, VersionControlRecord& record,
                               ProgressTotals& totals, Reporter& reporter);

}  // namespace halvern
