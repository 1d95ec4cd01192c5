#pragma once
// The Motorola S-record reader: turns NAME.mot into the byte image of its device address
// window in the image buffer. Index k of the buffer holds the byte for address start + k;
// bytes no record supplies read as FF.

#include "common/Reporter.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace halvern {

inline constexpr std::int64_t kImageBufferSize = 1048576;  // 1 MiB, indices 0 to &HFFFFF
using ImageBuffer = std::vector<std::uint8_t>;

// length characters of text from character start (1-based) as big-endian hex pairs.
std::int64_t hex_to_long(const QByteArray& text, int start, int length);

// Fills image (resized to kImageBufferSize, all FF first) from working_directory/file_name
// (found without regard to letter case), keeping the bytes of addresses window_start to
// window_end. Lines end at CR, CR LF or LF. Shows its own messages; false after a format
// error, a window that does not fit the buffer (nothing is stored) or a file that cannot be
// opened. After a format error the image keeps what was stored before the failing line.
bool read_motorola_file(const QString& file_name, const QString& working_directory, ImageBuffer& image,
                        std::int64_t window_start, std::int64_t window_end, Reporter& reporter);

}  // namespace halvern
