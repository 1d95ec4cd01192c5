// The Motorola reader: record types, windows, line ends, malformed lines, real tool output.
#include "image/MotorolaReader.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::VersionFileBuilder;
using halvern::test::s_record;

namespace {

const QString kFirstChar = "Motorola format error.  First character of each record must be an 'S'.";
const QString kSecondChar = "Motorola format error.  Second character not recognized.";

// Sixteen bytes 00 11 22 ... FF at address 0000, byte count 13, checksum F4.
const QByteArray kS1 = "S113000000112233445566778899AABBCCDDEEFFF4";

struct Reading {
    QTemporaryDir dir;
    RecordingReporter reporter;
    ImageBuffer image;
    bool ok = false;

    Reading(const QByteArray& text, std::int64_t start = 0, std::int64_t end = 0x1FFFF,
            const QString& name = QStringLiteral("IMG.mot")) {
        VersionFileBuilder::write_file(dir.path(), name, text);
        image.assign(16, 0x00);  // the reader sizes and fills it itself
        ok = read_motorola_file(QStringLiteral("IMG.mot"), dir.path(), image, start, end, reporter);
    }
    std::vector<std::uint8_t> at(std::size_t from, std::size_t count) const {
        return {image.begin() + static_cast<long>(from), image.begin() + static_cast<long>(from + count)};
    }
    std::size_t non_ff() const {
        return static_cast<std::size_t>(std::count_if(image.begin(), image.end(), [](std::uint8_t b) { return b != 0xFF; }));
    }
};

std::vector<std::uint8_t> ramp(int from, int count) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>((from + i) * 0x11));
    return out;
}

}  // namespace

TEST(HexToLong, PairsAreReadByTheirLeadingDigits) {
    const struct { QByteArray text; int start, length; std::int64_t value; } cases[] = {
        {"S1130000", 5, 4, 0},
        {"S113ABCD", 5, 4, 0xABCD},
        {"S213abcdef", 5, 6, 0xABCDEF},
        {"S315FFFFFFFF", 5, 8, 0xFFFFFFFFLL},  // no signed overflow
        {"S1G1", 3, 2, 0},                      // G1 reads 0
        {"S11G", 3, 2, 1},                      // 1G reads 1
        {"S1", 5, 4, 0},                        // beyond the end of the line
        {"S11", 3, 2, 1},                       // half a pair at the end
    };
    for (const auto& c : cases) EXPECT_EQ(hex_to_long(c.text, c.start, c.length), c.value) << c.text.constData();
}

TEST(ReadMotorolaFile, RecordTypesPlaceTheirData) {
    const struct { QByteArray line; std::size_t index; std::vector<std::uint8_t> bytes; } cases[] = {
        {kS1, 0, ramp(0, 16)},
        {s_record('2', "0123450A0B0C"), 0x12345, {0x0A, 0x0B, 0x0C}},
        {s_record('3', "00001000A1B2C3").toLower().replace('s', 'S'), 0x1000, {0xA1, 0xB2, 0xC3}},  // lower-case hex
        {s_record('1', "0012"), 0x12, {}},                             // no data
        {kS1 + " \t ", 0, ramp(0, 16)},                                // blanks and tabs at the end
        {s_record('2', "FFFFFF" + QByteArray(500, 'E')), 0xFFFFFF, {}}, // 250 data bytes, all outside
    };
    for (const auto& c : cases) {
        Reading r(c.line + "\r\n");
        EXPECT_TRUE(r.ok) << c.line.constData();
        EXPECT_EQ(r.image.size(), std::size_t(kImageBufferSize));
        EXPECT_EQ(r.at(c.index, c.bytes.size()), c.bytes) << c.line.constData();
        EXPECT_EQ(r.non_ff(), static_cast<std::size_t>(std::count_if(c.bytes.begin(), c.bytes.end(),
                                                                     [](std::uint8_t b) { return b != 0xFF; })));
    }
}

TEST(ReadMotorolaFile, WindowsCutRecords) {
    {
        Reading r(kS1 + "\r\n", 8, 0x1FFFF);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.at(0, 8), ramp(8, 8));
        EXPECT_EQ(r.image[8], 0xFF);
    }
    {
        Reading r(kS1 + "\r\n", 2, 5);  // only addresses 2 to 5
        EXPECT_EQ(r.at(0, 5), (std::vector<std::uint8_t>{0x22, 0x33, 0x44, 0x55, 0xFF}));
    }
    {   // eight-digit addresses above 2^31, and later records overwrite earlier ones
        Reading r(s_record('3', "80000000AABBCCDD") + "\n" + s_record('3', "80000001EE") + "\n", 0x80000000LL,
                  0x800FFFFFLL);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.at(0, 5), (std::vector<std::uint8_t>{0xAA, 0xEE, 0xCC, 0xDD, 0xFF}));
    }
    {   // addresses beyond the buffer but inside the window's 32-bit space are skipped
        Reading r(s_record('3', "FFFFFFFE01020304") + "\n", 0xFFF00000LL, 0xFFFFFFFFLL);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.at(0xFFFFE, 2), (std::vector<std::uint8_t>{0x01, 0x02}));
    }
}

TEST(ReadMotorolaFile, LinesAndTheirMessages) {
    const struct { QByteArray text; bool ok; QString message; } cases[] = {
        {"S00600004844521B\r\nS9030000FC\r\n", true, {}},  // only S0 and S9: all FF
        {"", true, {}},
        {kS1 + "\rS9030000FC\r", true, {}},                 // CR
        {kS1 + "\nS9030000FC\n", true, {}},                 // LF
        {kS1 + "\r\nS9030000FC", true, {}},                 // no end after the last line
        {"S5030000FC\r\n", false, kSecondChar},
        {"S\r\n", false, kSecondChar},
        {"SA030000FC\r\n", false, kSecondChar},
        {kS1.toLower() + "\r\n", false, kFirstChar},       // lower-case s
        {kS1 + "\r\n\r\nS9030000FC\r\n", false, kFirstChar},  // blank line in the middle
        {kS1 + "\r\nS9030000FC\r\n\r\n", false, kFirstChar},  // two line ends at the end
        {kS1 + "\n\n", false, kFirstChar},
        {" " + kS1 + "\r\n", false, kFirstChar},
    };
    for (const auto& c : cases) {
        Reading r(c.text);
        EXPECT_EQ(r.ok, c.ok) << c.text.constData();
        EXPECT_EQ(r.reporter.boxes(), c.message.isEmpty() ? QStringList() : QStringList{c.message}) << c.text.constData();
        if (c.text.startsWith(kS1)) {
            EXPECT_EQ(r.at(0, 16), ramp(0, 16)) << "stored before the failing line";
        }
        if (c.text.startsWith("S0")) {
            EXPECT_EQ(r.non_ff(), 0u);
        }
    }
}

// A damaged data record refuses the file, naming the line and the file; what came before it
// stays stored and nothing of the damaged line is.
TEST(ReadMotorolaFile, DamagedDataRecordsAreRefused) {
    const QString hex = "Motorola format error.  Line 2 of IMG.mot holds a character that is not a hexadecimal digit.";
    const QString count = "Motorola format error.  Byte count of line 2 of IMG.mot does not match the length of the record.";
    const QString shorter = "Motorola format error.  Line 2 of IMG.mot is too short for its record type.";
    const QString checksum = "Motorola format error.  Checksum of line 2 of IMG.mot does not match.";
    const QByteArray good = s_record('1', "0100AABBCCDD");  // S1070100AABBCCDDE9
    const struct { QByteArray line; QString message; } cases[] = {
        {"S1070100AXBBCCDDE9", hex},                    // AX for AA
        {"S1070100AXBBCCDDE9  ", hex},                  // ... with trailing blanks: still refused
        {"S1070100AABBCCDD E9", hex},                   // a blank inside
        {"S1070100aabbccdd\x01" "E9", hex},
        {"S1070100AABBCCDDE9X", hex},
        {"S1070100AABBCCDDE", count},                   // half a checksum
        {"S1080100AABBCCDDE9", count},                  // count one too many
        {"S1060100AABBCCDDE9", count},                  // one too few
        {"S1FF0100AABBCCDDE9", count},
        {"S1020100", shorter},                          // count, address and checksum need 4 bytes
        {"S10301007B", checksum},                        // no data: allowed, so its checksum counts
        {"S1", shorter},
        {"S3", shorter},
        {"S203010203", shorter},
        {"S1070100AABBCCDDE7", checksum},
        {"S1070100AABBCCDD16", checksum},               // the sum itself, not its complement
        {"S1070100AABBCCDEE9", checksum},               // a data byte changed, checksum kept
    };
    for (const auto& c : cases) {
        Reading r(kS1 + "\r\n" + c.line + "\r\n" + good + "\r\nS9030000FC\r\n");
        EXPECT_FALSE(r.ok) << c.line.constData();
        EXPECT_EQ(r.reporter.boxes(), QStringList{c.message}) << c.line.constData();
        EXPECT_EQ(r.at(0, 16), ramp(0, 16)) << "stored before the damaged line";
        EXPECT_EQ(r.at(0x100, 4), std::vector<std::uint8_t>(4, 0xFF)) << c.line.constData();
    }
    // The same good record passes in every spelling of its line end and trailing blanks.
    for (const QByteArray& tail : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r"), QByteArray(" \t\r\n"),
                                   QByteArray("\t"), QByteArray()}) {
        Reading r(good + tail);
        EXPECT_TRUE(r.ok) << tail.toHex().constData();
        EXPECT_EQ(r.at(0x100, 4), (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC, 0xDD}));
    }
    // Headers and end records are not checked: they carry nothing for the image.
    Reading lax("S0030000XX\r\n" + good + "\r\nS9\r\n");
    EXPECT_TRUE(lax.ok);
    // The line number counts every line, whatever ends it.
    Reading numbered(kS1 + "\r" + kS1 + "\n" + kS1 + "\r\n" + "S1070100AABBCCDDE7\r\n");
    EXPECT_EQ(numbered.reporter.boxes(), QStringList{"Motorola format error.  Checksum of line 4 of IMG.mot does not match."});
}

TEST(ReadMotorolaFile, SummaryCountsRecordsAndBytes) {
    const struct { QByteArray text; std::int64_t start, end; MotorolaFileSummary expected; } cases[] = {
        // 16 bytes at 0 of a 256-address window; the S0 and S9 count as records
        {"S00600004844521B\r\n" + kS1 + "\r\nS9030000FC\r\n", 0, 0xFF, {3, 16, 0, 240}},
        // half the record inside; the same addresses again overwrite and count again
        {kS1 + "\r\n" + kS1 + "\r\n", 8, 0x17, {2, 16, 16, 8}},
        // a record entirely outside
        {s_record('3', "0001000011") + "\r\n", 0, 0xF, {1, 0, 1, 16}},
        // a one-address window, filled
        {s_record('2', "000005AB") + "\r\n", 5, 5, {1, 1, 0, 0}},
        // a full window of 1 MiB with nothing in it
        {"", 0x100000, 0x1FFFFF, {0, 0, 0, 1048576}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "IMG.mot", c.text);
        RecordingReporter reporter;
        ImageBuffer image;
        MotorolaFileSummary summary{-1, -1, -1, -1};
        ASSERT_TRUE(read_motorola_file("IMG.mot", dir.path(), image, c.start, c.end, reporter, &summary)) << c.text.constData();
        EXPECT_EQ(summary.records, c.expected.records) << c.text.constData();
        EXPECT_EQ(summary.bytes_inside, c.expected.bytes_inside) << c.text.constData();
        EXPECT_EQ(summary.bytes_outside, c.expected.bytes_outside) << c.text.constData();
        EXPECT_EQ(summary.ff_filled, c.expected.ff_filled) << c.text.constData();
    }
}

TEST(ReadMotorolaFile, GuardsTheImageBuffer) {
    const struct { std::int64_t start, end; } cases[] = {{0, 0x100000}, {0x10, 0x0F}, {0, 0xFFFFFFFFLL}};
    for (const auto& c : cases) {
        Reading r("S1130000" + QByteArray(32, '0') + "00\r\nS30900100000AABBCC00\r\n", c.start, c.end);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.reporter.boxes(), QStringList{"Motorola file IMG.MOT has an address window that does not fit the "
                                                  "image buffer.  Unable to continue processing."});
        EXPECT_EQ(r.image.size(), std::size_t(kImageBufferSize));
        EXPECT_EQ(r.non_ff(), 0u);
    }
}

TEST(ReadMotorolaFile, FindsTheFileWithoutRegardToCaseAndReportsAMissingOne) {
    Reading upper(kS1 + "\r\n", 0, 0xFFFF, QStringLiteral("img.MOT"));
    EXPECT_TRUE(upper.ok);
    EXPECT_EQ(upper.at(0, 16), ramp(0, 16));

    QTemporaryDir dir;
    RecordingReporter reporter;
    ImageBuffer image;
    EXPECT_FALSE(read_motorola_file("NONE.mot", dir.path(), image, 0, 10, reporter));
    EXPECT_EQ(reporter.boxes(), QStringList{"Motorola file NONE.MOT is missing.  Unable to continue processing."});
}

// The image of a real tool's S1, S2 and S3 output equals the original binary over the window.
TEST(ReadMotorolaFile, ImageOfToolOutputEqualsTheBinary) {
    const QString objcopy = QStandardPaths::findExecutable("objcopy");
    if (objcopy.isEmpty()) GTEST_SKIP() << "objcopy (binutils) is not installed";
    QTemporaryDir dir;
    QByteArray binary;
    for (int i = 0; i < 5000; ++i) binary.append(static_cast<char>((i * 7 + i / 256) & 0xFF));
    VersionFileBuilder::write_file(dir.path(), "in.bin", binary);

    const struct { QStringList options; std::int64_t base; char type; } cases[] = {
        {{"--change-addresses", "0x1000"}, 0x1000, '1'},
        {{"--change-addresses", "0x123400"}, 0x123400, '2'},
        {{"--change-addresses", "0x80000000", "--srec-forceS3"}, 0x80000000LL, '3'},
    };
    for (const auto& c : cases) {
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(objcopy, QStringList{"-I", "binary", "-O", "srec"} + c.options + QStringList{"in.bin", "IMG.mot"});
        ASSERT_TRUE(tool.waitForFinished(20000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
        QFile out(QDir(dir.path()).filePath("IMG.mot"));
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        EXPECT_TRUE(out.readAll().contains(QByteArray("\nS") + c.type)) << c.type;

        RecordingReporter reporter;
        ImageBuffer image;
        // A window starting 100 bytes in, ending 100 bytes past the data.
        const std::int64_t start = c.base + 100, end = c.base + binary.size() + 99;
        ASSERT_TRUE(read_motorola_file("IMG.mot", dir.path(), image, start, end, reporter));
        EXPECT_TRUE(reporter.events.isEmpty());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.data()), binary.size() - 100), binary.mid(100)) << c.type;
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.data()) + binary.size() - 100, 100), QByteArray(100, '\xFF'));
        EXPECT_EQ(image[static_cast<std::size_t>(end - start + 1)], 0xFF);
    }
}
