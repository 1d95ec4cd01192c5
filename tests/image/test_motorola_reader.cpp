// The Motorola reader: record types, windows and their counts, line ends, damaged records.
#include "image/MotorolaReader.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Sixteen bytes 00 11 22 ... FF at address 0000, byte count 13, checksum F4.
const QByteArray kS1 = "S113000000112233445566778899AABBCCDDEEFFF4";

struct Reading {
    QTemporaryDir dir;
    RecordingReporter reporter;
    ImageBuffer image = ImageBuffer(16, 0x00);  // the reader sizes and fills it itself
    MotorolaFileSummary summary{-1, -1, -1, -1};
    bool ok = false;

    explicit Reading(const QByteArray& text, std::int64_t start = 0, std::int64_t end = 0x1FFFF) {
        VersionFileBuilder::write_file(dir.path(), "IMG.mot", text);
        ok = read_motorola_file("IMG.mot", dir.path(), image, start, end, reporter, &summary);
    }
    Bytes at(std::size_t from, std::size_t count) const {
        return {image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(from + count)};
    }
    std::size_t non_ff() const { return static_cast<std::size_t>(std::count_if(image.begin(), image.end(), [](auto b) { return b != 0xFF; })); }
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ramp(int from, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>((from + i) * 0x11));
    return out;
}

}  // namespace

// Each record type places its data; the window cuts records (the image starts at its first
// address, the rest is FF), later records overwrite earlier ones, and the summary counts
// records, bytes inside and outside and the FF filled. bytes is all that is not FF.
TEST(ReadMotorolaFile, RecordsPlaceTheirDataInTheWindow) {
    const struct { QByteArray text; std::int64_t start, end; std::size_t at; Bytes bytes; MotorolaFileSummary counts; } cases[] = {
        {s_record('2', "0123450A0B0C"), 0, 0x1FFFF, 0x12345, {0x0A, 0x0B, 0x0C}, {1, 3, 0, 0x20000 - 3}},
        {s_record('3', "00001000A1B2C3").toLower().replace('s', 'S'), 0, 0x1FFFF, 0x1000, {0xA1, 0xB2, 0xC3}, {1, 3, 0, 0x20000 - 3}},
        {s_record('1', "0012"), 0, 0x1FFFF, 0, {}, {1, 0, 0, 0x20000}},  // no data
        {s_record('2', "FFFFFF" + QByteArray(500, 'E')), 0, 0x1FFFF, 0, {}, {1, 0, 250, 0x20000}},
        {"S00600004844521B\r\n" + kS1 + "\r\nS9030000FC\r\n", 0, 0xFF, 0, ramp(0, 16) + Bytes{0xFF}, {3, 16, 0, 240}},
        {kS1 + "\r\n" + kS1 + "\r\n", 8, 0x17, 0, ramp(8, 8) + Bytes(8, 0xFF), {2, 16, 16, 8}},  // counted each time
        {kS1, 2, 5, 0, {0x22, 0x33, 0x44, 0x55, 0xFF}, {1, 4, 12, 0}},
        {s_record('3', "0001000011"), 0, 0xF, 0, Bytes(16, 0xFF), {1, 0, 1, 16}},
        {s_record('2', "000005AB"), 5, 5, 0, {0xAB, 0xFF}, {1, 1, 0, 0}},
        {"", 0x100000, 0x1FFFFF, 0, {0xFF}, {0, 0, 0, 1048576}},
        // eight-digit addresses above 2^31, overwritten
        {s_record('3', "80000000AABBCCDD") + "\n" + s_record('3', "80000001EE"), 0x80000000LL, 0x800FFFFFLL, 0,
         {0xAA, 0xEE, 0xCC, 0xDD, 0xFF}, {2, 5, 0, 1048572}},
        // past 32 bits: skipped
        {s_record('3', "FFFFFFFE01020304"), 0xFFF00000LL, 0xFFFFFFFFLL, 0xFFFFE, {1, 2}, {1, 2, 2, 1048574}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.constData());
        Reading r(c.text, c.start, c.end);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.image.size(), std::size_t(kImageBufferSize));
        EXPECT_EQ(r.at(c.at, c.bytes.size()), c.bytes);
        EXPECT_EQ(r.non_ff(), c.bytes.size() - std::size_t(std::count(c.bytes.begin(), c.bytes.end(), 0xFF)));
        EXPECT_EQ(std::tie(r.summary.records, r.summary.bytes_inside, r.summary.bytes_outside, r.summary.ff_filled),
                  std::tie(c.counts.records, c.counts.bytes_inside, c.counts.bytes_outside, c.counts.ff_filled));
    }
}

// Every record is checked whole; blanks and tabs after a record are no damage, and any of
// CR, LF and CR LF ends a line. A refused file names the fault (with the line and the file once
// the record type is known); kS1 stays stored when it comes before the refused line, and nothing
// of that line or after it is: the good record at 0x100 always follows it.
TEST(ReadMotorolaFile, LinesAndTheirIntegrity) {
    const QString first = "Motorola format error.  First character of each record must be an 'S'.";
    const QString second = "Motorola format error.  Second character not recognized.";
    const QString hex = "Motorola format error.  Line 2 of IMG.mot holds a character that is not a hexadecimal digit.";
    const QString count = "Motorola format error.  Byte count of line 2 of IMG.mot does not match the length of the record.";
    const QString shorter = "Motorola format error.  Line 2 of IMG.mot is too short for its record type.";
    const QString checksum = "Motorola format error.  Checksum of line 2 of IMG.mot does not match.";
    const QByteArray good = s_record('1', "0100AABBCCDD");  // S1070100AABBCCDDE9
    auto second_line = [&](const QByteArray& line) { return kS1 + "\r\n" + line + "\r\n" + good + "\r\nS9030000FC\r\n"; };
    const struct { QByteArray text; QString box; } cases[] = {
        {"", {}},
        {kS1 + "\rS9030000FC\r", {}},
        {kS1 + "\nS9030000FC\n", {}},
        {kS1 + "\r\nS9030000FC", {}},  // no end after the last line
        {kS1 + " \t", {}},
        {second_line(good + "  \t"), {}},
        {second_line("S804000000FB"), {}},
        {second_line("S70500000000FA"), {}},
        // headers and end records are checked like data records
        {second_line("S00600004844521BS1070100AABBCCDDE9"), hex},  // a lost line end: the header swallows a record
        {second_line("S0030000XX"), hex},
        {second_line("S00600004844521C"), checksum},
        {second_line("S9"), shorter},
        {second_line("S9070100AABBCCDDE9"), count},  // an end record carries an address and nothing else
        {second_line("S804000000FC"), checksum},
        {"S5030000FC\r\n", second},
        {"S\r\n", second},
        {kS1.toLower() + "\r\n", first},
        {kS1 + "\r\n\r\nS9030000FC\r\n", first},  // blank line in the middle
        {kS1 + "\r\nS9030000FC\r\n\r\n", first},  // two line ends at the end
        {" " + kS1 + "\r\n", first},
        {second_line("S1070100AXBBCCDDE9"), hex},  // AX for AA
        {second_line("S1070100AABBCCDD E9"), hex},
        {second_line("S1070100aabbccdd\x01" "E9"), hex},
        {second_line("S1070100AABBCCDDE"), count},  // half a checksum
        {second_line("S1060100AABBCCDDE9"), count},
        {second_line("S1020100"), shorter},  // count, address and checksum need 4 bytes
        {second_line("S3"), shorter},
        {second_line("S10301007B"), checksum},  // no data: allowed, so its checksum counts
        {second_line("S1070100AABBCCDDE7"), checksum},
        {second_line("S1070100AABBCCDD16"), checksum},  // the sum itself, not its complement
        {kS1 + "\r" + kS1 + "\n" + kS1 + "\r\nS1070100AABBCCDDE7\r\n",  // every line counts, whatever ends it
         "Motorola format error.  Checksum of line 4 of IMG.mot does not match."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.constData());
        Reading r(c.text);
        const bool ok = c.box.isEmpty();
        EXPECT_EQ(r.ok, ok);
        EXPECT_EQ(r.reporter.boxes(), ok ? QStringList() : QStringList{c.box});
        EXPECT_EQ(r.at(0, 16), (ok ? c.text.contains(kS1) : c.text.startsWith(kS1)) ? ramp(0, 16) : Bytes(16, 0xFF));
        EXPECT_EQ(r.at(0x100, 4), ok && c.text.contains(good) ? Bytes({0xAA, 0xBB, 0xCC, 0xDD}) : Bytes(4, 0xFF));
    }
}

TEST(ReadMotorolaFile, GuardsTheImageBuffer) {
    for (const auto& [start, end] : {std::pair<std::int64_t, std::int64_t>{0, 0x100000}, {0x10, 0x0F}, {0, 0xFFFFFFFFLL}}) {
        Reading r("S1130000" + QByteArray(32, '0') + "00\r\nS30900100000AABBCC00\r\n", start, end);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.reporter.boxes(), QStringList{"Motorola file IMG.MOT has an address window that does not fit the "
                                                  "image buffer.  Unable to continue processing."});
        EXPECT_EQ(r.image.size(), std::size_t(kImageBufferSize));
        EXPECT_EQ(r.non_ff(), 0u);
    }
}
