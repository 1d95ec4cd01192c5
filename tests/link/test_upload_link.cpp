// The messages that open and close an upload, and the transfer of one image file, against a
// scripted projector.

#include "link/UploadLink.h"
#include "tests/image/VersionFileBuilder.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kOutOfRetries = "Unable to communicate with device.  Maximum number of retries reached.";

struct UploadLinkTest : ::testing::Test {
    QTemporaryDir dir;
    ScriptedDeviceLibrary lib;
    LinkPeer peer{lib};
    RecordingReporter reporter;
    RecordingView view;
    std::int32_t handle = 3;
    FrameLayer frames{lib, handle, reporter};
    UploadLink link{frames, reporter, view};
    VersionControlRecord record{};

    UploadLinkTest() { link.working_directory = dir.path(); }

    // Entry 0 named ABC with the window start..end; ABC.mot holds data from data_at.
    void release(std::uint32_t start, std::uint32_t end, std::uint32_t data_at, const Frame& data) {
        const VersionFileBuilder vcf = VersionFileBuilder().entry(0, "ABC", start, end);
        record = VersionControlRecord::from_bytes(vcf.bytes());
        VersionFileBuilder::write_file(dir.path(), "ABC.mot", s3_records(data_at, data));
    }
    Frame message_of(int index) const { return peer.messages.at(static_cast<std::size_t>(index)).bytes; }
};

}  // namespace

TEST_F(UploadLinkTest, OpeningAndClosingMessagesAreTheWorkedExamples) {
    EXPECT_TRUE(link.initiate_upload_mode());
    EXPECT_TRUE(frames.receive_message());
    EXPECT_TRUE(link.send_eof());
    EXPECT_TRUE(link.end_upload());
    EXPECT_TRUE(link.reset_device_status());  // no reply awaited
    ASSERT_EQ(peer.codes(), (std::vector<int>{1, 11, 13, 15}));
    EXPECT_EQ(message_of(0), hex_bytes("01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D"));
    EXPECT_EQ(message_of(1), hex_bytes("01 01 01 03 01 01 00 00 00 14 0B 00 00 00 00 00 00 00 00 27"));
    EXPECT_EQ(message_of(2), hex_bytes("01 01 01 03 01 01 00 00 00 14 0D 00 00 00 00 00 00 00 00 29"));
    EXPECT_EQ(message_of(3), hex_bytes("01 01 01 03 01 01 00 00 00 14 0F 00 00 00 00 00 00 00 00 2B"));
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(UploadLinkTest, ClosingMessagesReportTheirOwnFailures) {
    peer.silent_codes = {13, 11};
    EXPECT_FALSE(link.end_upload());
    EXPECT_FALSE(link.send_eof());
    EXPECT_EQ(reporter.boxes(), (QStringList{"Did not receive acknowledgement to end of upload notice.",
                                             "Did not receive EOF acknowledgement."}));

    reporter.events.clear();
    peer.quiet_after = static_cast<int>(peer.messages.size());  // not even acknowledgements
    EXPECT_FALSE(link.end_upload());
    EXPECT_FALSE(link.reset_device_status());
    EXPECT_EQ(reporter.boxes(), (QStringList{kOutOfRetries, "Unable to transmit end of upload notice.", kOutOfRetries,
                                             "Unable to reset device status."}));
}

TEST_F(UploadLinkTest, VersionControlFileTravelsInItsSixteenBitForm) {
    struct Case { QByteArray file; const char* data; int checksum; } cases[] = {
        {"", "", 0},
        {"abc", "61 00 62", 0xC3},
        {"abcd", "61 00 62 00", 0xC3},
        {"\x80\x41", "AC 20", 0xCC},  // Windows-1252: the euro sign is U+20AC
    };
    for (const Case& c : cases) {
        peer.messages.clear();
        const QString path = VersionFileBuilder::write_file(dir.path(), "R.PJV", c.file);
        ASSERT_TRUE(link.send_version_control_file(path));
        ASSERT_EQ(peer.messages.size(), 1u);
        const Frame m = message_of(0);
        EXPECT_EQ(m[10], 3);
        EXPECT_EQ(peer.messages[0].data(), hex_bytes(c.data)) << c.file.toHex().constData();
        EXPECT_EQ(get_big_endian(m, 12, 4), c.file.size());
        EXPECT_EQ(get_big_endian(m, 16, 2), c.checksum);
    }
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(UploadLinkTest, VersionControlFileTooLongToSendIsRefused) {
    const QString path = VersionFileBuilder::write_file(dir.path(), "BIG.PJV", QByteArray(32749, 'x'));
    EXPECT_FALSE(link.send_version_control_file(path));
    EXPECT_TRUE(lib.sent_frames.empty());
    EXPECT_EQ(reporter.boxes(), QStringList{"Version control file " + path +
                                            " is too long to send to the device.  Unable to continue processing."});
}

TEST_F(UploadLinkTest, EveryAddressOfTheWindowIsSentInWholeBlocks) {
    link.block_message_size = 120;  // blocks of 100 bytes
    struct Case { std::uint32_t start, end; int blocks; } cases[] = {
        {0, 199, 2},      // exactly two blocks
        {0, 200, 3},      // one byte more: a third block for the byte at end_address
        {0x8000, 0x8000, 1},  // end equal to start is one byte, one block
        {0x10, 0x10 + 99, 1},
    };
    for (const Case& c : cases) {
        peer.messages.clear();
        const Frame data = pattern(c.end - c.start + 1);
        release(c.start, c.end, c.start, data);
        ASSERT_TRUE(link.upload_motorola_file("ABC.mot", 0, record)) << c.start << ".." << c.end;

        std::vector<int> codes{5};
        for (int n = 1; n <= c.blocks; ++n) codes.insert(codes.end(), {7, 9});
        codes.push_back(11);
        ASSERT_EQ(peer.codes(), codes);
        EXPECT_EQ(peer.messages[0].parameter, c.blocks);
        EXPECT_EQ(peer.messages[0].data(), hex_bytes("41 42 43 2E 6D 6F 74"));  // ABC.mot
        for (int n = 1; n <= c.blocks; ++n) {
            EXPECT_EQ(peer.messages[static_cast<std::size_t>(2 * n - 1)].parameter, n);
            EXPECT_EQ(peer.messages[static_cast<std::size_t>(2 * n)].parameter, n);
            EXPECT_EQ(peer.messages[static_cast<std::size_t>(2 * n - 1)].bytes.size(), 120u);
        }
        // The window's bytes, then FF to the end of the last block.
        Frame expected = data;
        expected.resize(static_cast<std::size_t>(c.blocks) * 100, 0xFF);
        EXPECT_EQ(peer.block_bytes(), expected);
    }
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(UploadLinkTest, ProgressAdvancesByTheImageBytesEachBlockCarried) {
    // 251 bytes in blocks of 100 (message 120): 100, 100 and the last block's 51, halved and
    // counted up from the file's start; the maximum comes with the last block, not before.
    link.block_message_size = 120;
    link.progress_divisor = 2;
    view.set_progress_maximum(125);
    std::vector<float> values;
    lib.on_send = [&, answer = lib.on_send](ScriptedDeviceLibrary& l, const Frame& f) {
        answer(l, f);
        if (peer.messages.size() > values.size()) values.push_back(view.value);  // as each message arrives
    };
    release(0, 250, 0, pattern(251));
    ASSERT_TRUE(link.upload_motorola_file("ABC.mot", 0, record));
    // The announcement, each block and its flash, the end-of-file notice.
    EXPECT_EQ(values, (std::vector<float>{0, 0, 0, 50, 50, 100, 100, 125}));
    EXPECT_FLOAT_EQ(view.value, 125);
    EXPECT_EQ(reporter.yields, 3 * 2 + 3 * 3 + 3);
}

TEST_F(UploadLinkTest, FailureChainsInnermostFirst) {
    link.block_message_size = 120;
    struct Case { const char* what; std::set<std::uint8_t> silent; int quiet_after; QStringList boxes; } cases[] = {
        {"flash not acknowledged", {9}, -1,
         {"Unable to receive acknowledgement of flash to ROM.", "Unable to flash to ROM.",
          "Error sending frame 1 of ABC.mot file."}},
        {"block not acknowledged", {7}, -1,
         {"Unable to acknowledge transmitted data.", "Error sending frame 1 of ABC.mot file."}},
        {"second block not sent", {}, 3,
         {kOutOfRetries, "Unable to transmit data.", "Error sending frame 2 of ABC.mot file."}},
        {"no reply to the announcement", {5}, -1, {"Error reading from device.  Frame 0 of ABC.mot file."}},
        {"announcement not sent", {}, 0, {kOutOfRetries, "Error sending ABC.mot file.\rFrame number 3."}},
        {"no reply to the end-of-file notice", {11}, -1, {"Did not receive EOF acknowledgement."}},
    };
    for (const Case& c : cases) {
        reporter.events.clear();
        peer.messages.clear();
        lib.reads.clear();
        peer.silent_codes = c.silent;
        peer.quiet_after = c.quiet_after;
        release(0, 250, 0, pattern(251));
        EXPECT_FALSE(link.upload_motorola_file("ABC.mot", 0, record)) << c.what;
        EXPECT_EQ(reporter.boxes(), c.boxes) << c.what;
    }
}

TEST_F(UploadLinkTest, WhatCannotBeSentIsRefusedBeforeAnythingIsSent) {
    struct Case { std::int32_t message_size; std::uint32_t end; QStringList boxes; } cases[] = {
        {20, 99,
         {"The device gave a block message size of 20 bytes, which leaves no room for data.  Unable to send ABC.mot file."}},
        {0, 99,
         {"The device gave a block message size of 0 bytes, which leaves no room for data.  Unable to send ABC.mot file."}},
        {30, 2559,  // 256 blocks: one more than a block number can count
         {"File ABC.mot needs 256 blocks of 10 bytes, more than the 255 a file may have.  Unable to send ABC.mot file."}},
        {16384, 0xFFFFF,
         {"The blocks of ABC.mot file (65 of 16364 bytes) would reach past the image buffer.  Unable to send ABC.mot file."}},
        {120, 99, {"Motorola file ABC.MOT is missing.  Unable to continue processing.", "Error during read of ABC.mot file."}},
    };
    for (const Case& c : cases) {
        reporter.events.clear();
        link.block_message_size = c.message_size;
        release(0, c.end, 0, pattern(64));
        if (c.boxes.size() > 1) QFile::remove(dir.filePath("ABC.mot"));  // the unreadable file
        EXPECT_FALSE(link.upload_motorola_file("ABC.mot", 0, record));
        EXPECT_TRUE(lib.sent_frames.empty());
        EXPECT_EQ(reporter.boxes(), c.boxes);
    }
}
