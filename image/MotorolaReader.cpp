#include "image/MotorolaReader.h"

#include "image/FileLookup.h"
#include "image/VersionControl.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace halvern {

namespace {

// Hex digit values; any other character maps to kNotHex.
constexpr std::uint8_t kNotHex = 0x80;
constexpr std::array<std::uint8_t, 256> make_hex_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kNotHex;
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
    return table;
}
constexpr std::array<std::uint8_t, 256> kHex = make_hex_table();

inline std::uint8_t hex_value(char c) { return kHex[static_cast<unsigned char>(c)]; }
inline bool is_line_end(char c) { return c == '\r' || c == '\n'; }

QString entry_name(const QString& file_name) {
    return file_name.endsWith(QLatin1String(".mot"), Qt::CaseInsensitive) ? file_name.chopped(4) : file_name;
}

// Files beyond this size are refused before anything is allocated for them: the largest
// image (1 MiB in one-byte S3 records) takes about 17 MiB of text.
constexpr qint64 kLargestFile = qint64(256) * 1024 * 1024;

// One pass over the file's text: each line is parsed where it lies, its data records checked
// (hex digits only, byte count, checksum) and stored into the image as they are met.
class Pass {
public:
    Pass(ImageBuffer& image, std::int64_t window_start, std::int64_t window_end, const QString& file_name,
         Reporter& reporter, MotorolaFileSummary* summary)
        : image_(image.data()), window_start_(window_start), window_end_(window_end), file_name_(file_name),
          reporter_(reporter), summary_(summary) {
        if (summary_) {
            *summary_ = MotorolaFileSummary{};
            covered_.assign(static_cast<std::size_t>((window_end - window_start) / 64 + 1), 0);
        }
    }

    bool run(const char* p, const char* const end) {
        while (p < end) {
            ++line_;
            const char* next = fast_data_record(p, end);
            if (!next) {
                // Anything but a well-formed data record ending where its byte count says:
                // find the line's real end and take the line on its own.
                const char* line_end = p;
                while (line_end < end && !is_line_end(*line_end)) ++line_end;
                const char* text_end = line_end;
                while (text_end > p && (text_end[-1] == ' ' || text_end[-1] == '\t')) --text_end;
                if (!line(p, text_end)) return false;
                next = line_end;
            }
            if (next < end) next += (*next == '\r' && next + 1 < end && next[1] == '\n') ? 2 : 1;
            p = next;
        }
        if (summary_) {
            std::int64_t covered = 0;
            for (std::uint64_t word : covered_) covered += std::popcount(word);
            summary_->ff_filled = window_end_ - window_start_ + 1 - covered;
        }
        return true;
    }

private:
    // A data record whose byte count leads straight to a line end, with hex digits only and a
    // good checksum, is stored at once; the end of its text is returned. Anything else returns
    // nullptr and is taken by line(), which says what is wrong with it.
    const char* fast_data_record(const char* p, const char* end) {
        if (end - p < 4 || p[0] != 'S') return nullptr;
        const unsigned address_bytes = static_cast<unsigned>(p[1] - '0') + 1;  // S1: 2, S2: 3, S3: 4
        if (address_bytes - 2 > 2) return nullptr;
        const std::uint8_t high = hex_value(p[2]), low = hex_value(p[3]);
        if ((high | low) & kNotHex) return nullptr;
        const int count = high * 16 + low;
        if (count < static_cast<int>(address_bytes) + 1 || end - p < 4 + 2 * count) return nullptr;
        const char* const text_end = p + 4 + 2 * count;
        if (text_end < end && !is_line_end(*text_end)) return nullptr;
        if (!decode(p + 2, text_end) || !checksum_matches(count + 1)) return nullptr;
        store(static_cast<int>(address_bytes), count + 1);
        return text_end;
    }

    // One line, without its line end and trailing blanks and tabs.
    bool line(const char* begin, const char* end) {
        if (begin == end || *begin != 'S')
            return fail(QStringLiteral("Motorola format error.  First character of each record must be an 'S'."));
        const char type = end - begin > 1 ? begin[1] : '\0';
        // Every record has a count, an address and a checksum. Data records (S1 to S3) carry
        // data for the image, a header (S0) any text, an end record (S7 to S9) nothing more.
        int address_bytes = 0;
        bool data = false, closing = false;
        switch (type) {
        case '0': address_bytes = 2; break;
        case '1': address_bytes = 2; data = true; break;
        case '2': address_bytes = 3; data = true; break;
        case '3': address_bytes = 4; data = true; break;
        case '7': address_bytes = 4; closing = true; break;
        case '8': address_bytes = 3; closing = true; break;
        case '9': address_bytes = 2; closing = true; break;
        default:
            return fail(QStringLiteral("Motorola format error.  Second character not recognized."));
        }
        const char* const fields = begin + 2;
        for (const char* c = fields; c < end; ++c)
            if (hex_value(*c) & kNotHex)
                return fail_at(QStringLiteral("Line %1 of %2 holds a character that is not a hexadecimal digit."));
        const qsizetype digits = end - fields;
        // Count, address and checksum at least.
        if (digits < 2 * (address_bytes + 2))
            return fail_at(QStringLiteral("Line %1 of %2 is too short for its record type."));
        const int count = hex_value(fields[0]) * 16 + hex_value(fields[1]);
        if (digits != 2 + 2 * qsizetype(count) || (closing && count != address_bytes + 1))
            return fail_at(QStringLiteral("Byte count of line %1 of %2 does not match the length of the record."));
        decode(fields, end);
        if (!checksum_matches(count + 1)) return fail_at(QStringLiteral("Checksum of line %1 of %2 does not match."));
        if (data)
            store(address_bytes, count + 1);
        else if (summary_)
            ++summary_->records;
        return true;
    }

    // The pairs of [from, to) into bytes_; false when a character is not a hex digit.
    bool decode(const char* from, const char* to) {
        std::uint8_t* out = bytes_.data();
        std::uint8_t bad = 0;
        for (; from < to; from += 2) {
            const std::uint8_t high = hex_value(from[0]), low = hex_value(from[1]);
            bad |= high | low;
            *out++ = static_cast<std::uint8_t>((high << 4) | low);
        }
        return !(bad & kNotHex);
    }

    // The checksum (last of n bytes) is the ones' complement of the low byte of the sum of
    // the count, address and data bytes.
    bool checksum_matches(int n) const {
        unsigned sum = 0;
        for (int k = 0; k < n; ++k) sum += bytes_[static_cast<std::size_t>(k)];
        return (sum & 0xFF) == 0xFF;
    }

    // The record of n decoded bytes (count, address, data, checksum): its data bytes inside
    // the window go to the image.
    void store(int address_bytes, int n) {
        std::int64_t address = 0;
        for (int k = 1; k <= address_bytes; ++k) address = address * 256 + bytes_[static_cast<std::size_t>(k)];
        const std::uint8_t* data = bytes_.data() + 1 + address_bytes;
        const std::int64_t length = n - 2 - address_bytes;
        const std::int64_t first = std::max(address, window_start_);
        const std::int64_t last = std::min(address + length - 1, window_end_);
        const std::int64_t inside = last >= first ? last - first + 1 : 0;
        if (inside > 0)
            std::memcpy(image_ + (first - window_start_), data + (first - address), static_cast<std::size_t>(inside));
        if (summary_) {
            ++summary_->records;
            summary_->bytes_inside += inside;
            summary_->bytes_outside += length - inside;
            for (std::int64_t a = first - window_start_; a <= last - window_start_; ++a)
                covered_[static_cast<std::size_t>(a / 64)] |= std::uint64_t(1) << (a % 64);
        }
    }

    bool fail(const QString& text) {
        reporter_.message_box(text);
        return false;
    }
    // "Motorola format error.  " and what is wrong, with the line number and the file name.
    bool fail_at(const QString& what) {
        return fail(QStringLiteral("Motorola format error.  ") + what.arg(line_).arg(file_name_));
    }

    std::uint8_t* const image_;
    const std::int64_t window_start_, window_end_;
    const QString& file_name_;
    Reporter& reporter_;
    MotorolaFileSummary* const summary_;
    std::vector<std::uint64_t> covered_;  // one bit per window address a record supplied
    std::int64_t line_ = 0;
    std::array<std::uint8_t, 256> bytes_{};  // count, address, data, checksum of one record
};

}  // namespace

QString motorola_read_error_message(const QString& file_name) {
    return QStringLiteral("Error during read of ") + file_name + QStringLiteral(" file.");
}

bool read_motorola_file(const QString& file_name, const QString& working_directory, ImageBuffer& image,
                        std::int64_t window_start, std::int64_t window_end, Reporter& reporter,
                        MotorolaFileSummary* summary) {
    image.assign(static_cast<std::size_t>(kImageBufferSize), 0xFF);
    if (!window_fits_image(window_start, window_end)) {
        reporter.message_box(window_does_not_fit_message(entry_name(file_name)));
        return false;
    }

    const QString path = find_ordinary_file(working_directory, file_name);
    if (path.isEmpty()) {
        reporter.message_box(missing_motorola_file_message(entry_name(file_name)));
        return false;
    }
    const RegularFile file = read_regular_file(path, -1, kLargestFile);
    if (file.outcome == RegularFile::Outcome::NotRegular) {
        reporter.message_box(missing_motorola_file_message(entry_name(file_name)));
        return false;
    }
    if (file.outcome != RegularFile::Outcome::Read) {
        reporter.message_box(QStringLiteral("Motorola file ") + path + QStringLiteral(" cannot be opened.  ") + file.error);
        return false;
    }
    Pass pass(image, window_start, window_end, file_name, reporter, summary);
    return pass.run(file.bytes.constData(), file.bytes.constData() + file.bytes.size());
}

}  // namespace halvern
