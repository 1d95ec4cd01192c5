#include "image/MotorolaReader.h"

#include "image/FileLookup.h"
#include "image/VersionControl.h"

#include <QFile>

#include <algorithm>

namespace halvern {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The pair at index i (0-based) read as its leading hex digits: "G1" is 0, "1G" is 1, a pair
// beyond the end of the line is 0.
int hex_pair(const QByteArray& text, qsizetype i) {
    const int high = i >= 0 && i < text.size() ? hex_digit(text[i]) : -1;
    if (high < 0) return 0;
    const int low = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
    return low < 0 ? high : high * 16 + low;
}

// The lines of an S-record file; a line ends at CR, CR LF or LF. After the last line end
// there is no further line, so a file that ends with two line ends has an empty last line.
QList<QByteArray> split_lines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype begin = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines << text.mid(begin, i - begin);
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    if (begin < n) lines << text.mid(begin);
    return lines;
}

QString entry_name(const QString& file_name) {
    return file_name.endsWith(QLatin1String(".mot"), Qt::CaseInsensitive) ? file_name.chopped(4) : file_name;
}

}  // namespace

std::int64_t hex_to_long(const QByteArray& text, int start, int length) {
    std::int64_t value = 0;
    for (int j = 0; j < length / 2; ++j) value = value * 256 + hex_pair(text, start - 1 + 2 * j);
    return value;
}

bool read_motorola_file(const QString& file_name, const QString& working_directory, ImageBuffer& image,
                        std::int64_t window_start, std::int64_t window_end, Reporter& reporter) {
    image.assign(static_cast<std::size_t>(kImageBufferSize), 0xFF);
    if (!window_fits_image(window_start, window_end)) {
        reporter.message_box(window_does_not_fit_message(entry_name(file_name)));
        return false;
    }

    QString path = find_ordinary_file(working_directory, file_name);
    if (path.isEmpty()) path = join_path(working_directory, file_name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reporter.message_box(QStringLiteral("Motorola file ") + path + QStringLiteral(" cannot be opened.  ") +
                             file.errorString());
        return false;
    }
    const QByteArray text = file.readAll();
    file.close();

    for (const QByteArray& line : split_lines(text)) {
        if (!line.startsWith('S')) {
            reporter.message_box(
                QStringLiteral("Motorola format error.  First character of each record must be an 'S'."));
            return false;
        }
        const char type = line.size() > 1 ? line[1] : '\0';
        std::int64_t address = 0;
        int data_start = 0;  // 1-based character position of the first data pair
        switch (type) {
        case '1': address = hex_to_long(line, 5, 4); data_start = 9; break;
        case '2': address = hex_to_long(line, 5, 6); data_start = 11; break;
        case '3': address = hex_to_long(line, 5, 8); data_start = 13; break;
        case '0': case '7': case '8': case '9': continue;
        default:
            reporter.message_box(QStringLiteral("Motorola format error.  Second character not recognized."));
            return false;
        }
        // The data run from the data start to the last two characters (the checksum),
        // whatever the byte count says.
        for (qsizetype p = data_start; p < line.size() - 2; p += 2, ++address) {
            if (address < window_start || address > window_end) continue;
            image[static_cast<std::size_t>(address - window_start)] = static_cast<std::uint8_t>(hex_pair(line, p - 1));
        }
    }
    return true;
}

}  // namespace halvern
