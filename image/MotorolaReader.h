#pragma once
// The Motorola S-record reader: turns NAME.mot into the byte image of its device address
// window in the image buffer. Index k of the buffer holds the byte for address start + k;
// bytes no record supplies read as FF.

#include "common/Reporter.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace halvern {

inline constexpr std::int64_t kImageBufferSize = 1048576;  // 1 MiB, indices 0 to &HFFFFF
using ImageBuffer = std::vector<std::uint8_t>;

// What a reading found in a file that was read to its end.
struct MotorolaFileSummary {
    std::int64_t records = 0;        // every record of the file, data or not
    std::int64_t bytes_inside = 0;   // data bytes for addresses inside the window (each time met)
    std::int64_t bytes_outside = 0;  // data bytes for addresses outside it
    std::int64_t ff_filled = 0;      // addresses of the window no record supplies: they read FF
};

// Fills image (resized to kImageBufferSize, all FF first) from working_directory/file_name
// (found without regard to letter case), keeping the bytes of addresses window_start to
// window_end. Lines end at CR, CR LF or LF; blanks and tabs at the end of a line are ignored.
// Every record must hold hexadecimal digits only, a byte count that agrees with its length and
// a checksum that agrees with its bytes: the data records (S1, S2, S3), the header (S0, whose
// text may be anything) and the end records (S7, S8, S9, an address and nothing else); only
// the data records carry anything for the image. Shows its own messages (a damaged record's names the line and the file);
// false after a format error, a window that does not fit the buffer (nothing is stored), a
// file that is missing or not a regular file (never opened then), or one that cannot be read.
// After a format error the image keeps what was stored before the failing line. The file is
// read once and parsed where it lies; summary, when given, is filled in the same pass.
bool read_motorola_file(const QString& file_name, const QString& working_directory, ImageBuffer& image,
                        std::int64_t window_start, std::int64_t window_end, Reporter& reporter,
                        MotorolaFileSummary* summary = nullptr);

// The box the image transfer adds after a failed reading: "Error during read of NAME.mot file."
QString motorola_read_error_message(const QString& file_name);

}  // namespace halvern
