// The S-record reader on arbitrary text, against a plain line-by-line model of the same rules:
// both must agree on the result, the box, every byte of the image and the summary. The first
// eight bytes of an input give the window (start, then its span); the rest is NAME.mot.
#include "fuzz/FuzzSupport.h"
#include "image/MotorolaReader.h"

#include <cstdlib>
#include <vector>

using namespace halvern;

namespace {

struct Model {
    bool ok = true;
    QString box;
    ImageBuffer image;
    MotorolaFileSummary summary;
};

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

Model model(const QByteArray& text, std::int64_t start, std::int64_t end, const QString& name) {
    Model m;
    m.image.assign(static_cast<std::size_t>(kImageBufferSize), 0xFF);
    std::vector<char> covered(static_cast<std::size_t>(end - start + 1), false);
    QList<QByteArray> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines << text.mid(begin, i - begin);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    if (begin < text.size()) lines << text.mid(begin);
    auto fail = [&](const QString& box) {
        m.ok = false;
        m.box = box;
        return m;
    };
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = lines[n];
        while (!line.isEmpty() && (line.endsWith(' ') || line.endsWith('\t'))) line.chop(1);
        const QString number = QString::number(n + 1);
        if (line.isEmpty() || line[0] != 'S')
            return fail(QStringLiteral("Motorola format error.  First character of each record must be an 'S'."));
        const char type = line.size() > 1 ? line[1] : '\0';
        // Data records S1 to S3; the header S0 and the end records S7 to S9 are checked alike.
        const bool data = type >= '1' && type <= '3', closing = type >= '7' && type <= '9';
        if (!data && !closing && type != '0')
            return fail(QStringLiteral("Motorola format error.  Second character not recognized."));
        const int address_bytes = type == '0' ? 2 : data ? type - '0' + 1 : 11 - (type - '0');
        const QByteArray fields = line.mid(2);
        for (char c : fields)
            if (!is_hex(c))
                return fail("Motorola format error.  Line " + number + " of " + name +
                            " holds a character that is not a hexadecimal digit.");
        if (fields.size() < 2 * (address_bytes + 2))
            return fail("Motorola format error.  Line " + number + " of " + name + " is too short for its record type.");
        const QByteArray bytes = QByteArray::fromHex(fields);
        const int count = static_cast<std::uint8_t>(bytes[0]);
        if (fields.size() != 2 + 2 * count || (closing && count != address_bytes + 1))
            return fail("Motorola format error.  Byte count of line " + number + " of " + name +
                        " does not match the length of the record.");
        unsigned sum = 0;
        for (char b : bytes) sum += static_cast<std::uint8_t>(b);
        if ((sum & 0xFF) != 0xFF)
            return fail("Motorola format error.  Checksum of line " + number + " of " + name + " does not match.");
        if (!data) {
            ++m.summary.records;
            continue;
        }
        std::int64_t address = 0;
        for (int k = 1; k <= address_bytes; ++k) address = address * 256 + static_cast<std::uint8_t>(bytes[k]);
        for (qsizetype k = 1 + address_bytes; k < bytes.size() - 1; ++k, ++address) {
            if (address < start || address > end) {
                ++m.summary.bytes_outside;
                continue;
            }
            ++m.summary.bytes_inside;
            m.image[static_cast<std::size_t>(address - start)] = static_cast<std::uint8_t>(bytes[k]);
            covered[static_cast<std::size_t>(address - start)] = true;
        }
        ++m.summary.records;
    }
    for (char c : covered) m.summary.ff_filled += c ? 0 : 1;
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t start = 0, span = 0xFFFF;
    if (size >= 8) {
        start = (std::int64_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
        // Mostly small windows, which keep an execution cheap; bit 7 of the fifth byte asks
        // for spans up to the whole buffer.
        span = ((std::int64_t(data[4]) << 24) | (data[5] << 16) | (data[6] << 8) | data[7]) &
               ((data[4] & 0x80) ? 0xFFFFF : 0xFFF);
        data += 8;
        size -= 8;
    }
    const std::int64_t end = start + span;
    const QString& dir = fuzz::scratch_directory();
    const QByteArray text = fuzz::bytes_of(data, size);
    fuzz::write_file(dir, QStringLiteral("IMG.mot"), text);

    CollectingReporter reporter;
    ImageBuffer image;
    MotorolaFileSummary summary;
    const bool ok = read_motorola_file(QStringLiteral("IMG.mot"), dir, image, start, end, reporter, &summary);

    const Model m = model(text, start, end, QStringLiteral("IMG.mot"));
    if (ok != m.ok) std::abort();
    if (reporter.boxes != (m.ok ? QStringList() : QStringList{m.box})) std::abort();
    if (image != m.image) std::abort();  // also what was stored before a failing line
    if (ok && (summary.records != m.summary.records || summary.bytes_inside != m.summary.bytes_inside ||
               summary.bytes_outside != m.summary.bytes_outside || summary.ff_filled != m.summary.ff_filled))
        std::abort();
    return 0;
}
