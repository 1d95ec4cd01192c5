#pragma once
// The messages of an upload, over the frame layer: the ones that open and close it on the
// device, and the transfer of one image file (announce, block by block with a flash after
// each, end-of-file notice). Each routine shows its own boxes and returns a truth value; the
// caller adds its own box, so one fault reads as a chain, innermost first.

#include "image/MotorolaReader.h"
#include "image/VersionControl.h"
#include "link/FrameLayer.h"
#include "common/Reporter.h"
#include "common/UploadView.h"

#include <QString>

#include <cstdint>

namespace halvern {

// The longest version control file whose message the device can take.
inline constexpr std::int64_t kVersionControlSendMax = 32748;

class UploadLink {
public:
    UploadLink(FrameLayer& frames, Reporter& reporter, UploadView& view);

    // Total length of one data-block message, envelope included, as the device gave it in
    // its reply to the version control file message.
    std::int32_t block_message_size = 0;
    // The power of two the byte total of the progress bar was divided by.
    std::int16_t progress_divisor = 1;
    // Where the NAME.mot files of the release are.
    QString working_directory;
    ImageBuffer image_buffer;

    FrameLayer& frames() { return frames_; }

    // Message code 1. No box of its own.
    bool initiate_upload_mode();
    // Message code 3: the file's text in its 16-bit form, low byte first, its first N bytes
    // (N the file's length). The device's reply gives block_message_size.
    bool send_version_control_file(const QString& path);
    // Message code 13 and its reply.
    bool end_upload();
    // Message code 15; no reply is awaited.
    bool reset_device_status();

    // Loads NAME.mot (name with extension) into image_buffer with the window of entry
    // index, then announces it, sends it block by block and closes it with the EOF notice.
    bool upload_motorola_file(const QString& name, int index, const VersionControlRecord& record);
    bool announce_file(const QString& name, int blocks);
    bool send_data_block(int n);
    bool flash_to_rom(int n);
    bool send_eof();

    // Blocks of B bytes that carry every address of start..end.
    static std::int64_t block_count(std::int64_t start, std::int64_t end, std::int64_t block_size);

private:
    bool send_empty(std::uint8_t code, std::uint8_t parameter);
    void yield(int times);

    FrameLayer& frames_;
    Reporter& reporter_;
    UploadView& view_;
    // Bytes of the file being sent (its address window); the blocks past it carry fill only.
    std::int64_t file_length_ = INT64_MAX;
};

// The bytes the version control file message carries for a file's raw bytes: each byte a
// character of the Windows-1252 code page, as 16-bit units low byte first, cut to the file's
// length.
Bytes version_control_message_data(const QByteArray& file);

}  // namespace halvern
