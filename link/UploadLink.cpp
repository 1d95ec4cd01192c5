#include "link/UploadLink.h"

#include <QFile>

#include <algorithm>

namespace halvern {

namespace {

enum MessageCode : std::uint8_t {
    kInitiateUpload = 1,
    kVersionControlFile = 3,
    kAnnounceFile = 5,
    kDataBlock = 7,
    kFlashToRom = 9,
    kEndOfFile = 11,
    kEndUpload = 13,
    kResetDeviceStatus = 15,
};

// Windows-1252 characters of bytes 80 to 9F; the five unassigned bytes keep their value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t windows1252(std::uint8_t byte) {
    return byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

QString number(std::int64_t n) { return QString::number(n); }

}  // namespace

Bytes version_control_message_data(const QByteArray& file) {
    const std::size_t n = static_cast<std::size_t>(file.size());
    Bytes data(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t unit = windows1252(static_cast<std::uint8_t>(file[static_cast<qsizetype>(i / 2)]));
        data[i] = static_cast<std::uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
    }
    return data;
}

UploadLink::UploadLink(FrameLayer& frames, Reporter& reporter, UploadView& view)
    : frames_(frames), reporter_(reporter), view_(view) {}

void UploadLink::yield(int times) {
    for (int i = 0; i < times; ++i) reporter_.yield();
}

bool UploadLink::send_empty(std::uint8_t code, std::uint8_t parameter) {
    frames_.build_message(code, parameter, {});
    return frames_.send_message();
}

bool UploadLink::initiate_upload_mode() { return send_empty(kInitiateUpload, 0); }

bool UploadLink::send_version_control_file(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reporter_.message_box(QStringLiteral("Unable to open version control file ") + path + QStringLiteral("."));
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.size() > kVersionControlSendMax) {
        reporter_.message_box(QStringLiteral("Version control file ") + path +
                              QStringLiteral(" is too long to send to the device.  Unable to continue processing."));
        return false;
    }
    const Bytes data = version_control_message_data(bytes);
    frames_.build_message(kVersionControlFile, 0, data);
    return frames_.send_message();
}

bool UploadLink::end_upload() {
    if (!send_empty(kEndUpload, 0)) {
        reporter_.message_box(QStringLiteral("Unable to transmit end of upload notice."));
        return false;
    }
    if (!frames_.receive_message()) {
        reporter_.message_box(QStringLiteral("Did not receive acknowledgement to end of upload notice."));
        return false;
    }
    return true;
}

bool UploadLink::reset_device_status() {
    if (!send_empty(kResetDeviceStatus, 0)) {
        reporter_.message_box(QStringLiteral("Unable to reset device status."));
        return false;
    }
    return true;
}

std::int64_t UploadLink::block_count(std::int64_t start, std::int64_t end, std::int64_t block_size) {
    const std::int64_t span = end - start + 1;
    if (span <= 0 || block_size <= 0) return 0;
    return span / block_size + (span % block_size != 0 ? 1 : 0);
}

bool UploadLink::upload_motorola_file(const QString& name, int index, const VersionControlRecord& record) {
    const FileEntry& entry = record.files[index];
    const std::int64_t start = entry.start();
    const std::int64_t end = entry.end();

    image_buffer.assign(static_cast<std::size_t>(kImageBufferSize), 0);
    if (!read_motorola_file(name, working_directory, image_buffer, start, end, reporter_)) {
        reporter_.message_box(motorola_read_error_message(name));
        return false;
    }

    // What the device asked for must carry the whole window in at most 255 blocks that all
    // lie inside the image buffer; otherwise nothing of the file is sent.
    const std::int64_t block_size = static_cast<std::int64_t>(block_message_size) - kMessageHeaderSize;
    if (block_size <= 0) {
        reporter_.message_box(QStringLiteral("The device gave a block message size of ") + number(block_message_size) +
                              QStringLiteral(" bytes, which leaves no room for data.  Unable to send ") + name +
                              QStringLiteral(" file."));
        return false;
    }
    const std::int64_t blocks = block_count(start, end, block_size);
    if (blocks > 255) {
        reporter_.message_box(QStringLiteral("File ") + name + QStringLiteral(" needs ") + number(blocks) +
                              QStringLiteral(" blocks of ") + number(block_size) +
                              QStringLiteral(" bytes, more than the 255 a file may have.  Unable to send ") + name +
                              QStringLiteral(" file."));
        return false;
    }
    if (blocks * block_size > kImageBufferSize) {
        reporter_.message_box(QStringLiteral("The blocks of ") + name + QStringLiteral(" file (") + number(blocks) +
                              QStringLiteral(" of ") + number(block_size) +
                              QStringLiteral(" bytes) would reach past the image buffer.  Unable to send ") + name +
                              QStringLiteral(" file."));
        return false;
    }

    if (!announce_file(name, static_cast<int>(blocks))) {
        reporter_.message_box(QStringLiteral("Error sending ") + name + QStringLiteral(" file.") + QChar(u'\r') +
                              QStringLiteral("Frame number ") + number(blocks) + QStringLiteral("."));
        return false;
    }
    if (!frames_.receive_message()) {
        reporter_.message_box(QStringLiteral("Error reading from device.  Frame ") + number(0) + QStringLiteral(" of ") +
                              name + QStringLiteral(" file."));
        return false;
    }
    file_length_ = end - start + 1;
    for (int n = 1; n <= blocks; ++n) {
        yield(2);
        if (!send_data_block(n)) {
            reporter_.message_box(QStringLiteral("Error sending frame ") + number(n) + QStringLiteral(" of ") + name +
                                  QStringLiteral(" file."));
            return false;
        }
    }
    if (!send_eof()) return false;
    yield(3);
    return true;
}

bool UploadLink::announce_file(const QString& name, int blocks) {
    const QByteArray text = name.toLatin1();
    frames_.build_message(kAnnounceFile, static_cast<std::uint8_t>(blocks),
                          std::span(reinterpret_cast<const std::uint8_t*>(text.constData()), static_cast<std::size_t>(text.size())));
    return frames_.send_message();
}

bool UploadLink::send_data_block(int n) {
    const std::int64_t block_size = static_cast<std::int64_t>(block_message_size) - kMessageHeaderSize;
    const std::int64_t from = static_cast<std::int64_t>(n - 1) * block_size;
    if (block_size <= 0 || n < 1 || n > 255 || from + block_size > static_cast<std::int64_t>(image_buffer.size())) {
        reporter_.message_box(QStringLiteral("Unable to transmit data."));
        yield(3);
        return false;
    }
    frames_.build_message(kDataBlock, static_cast<std::uint8_t>(n),
                          std::span(image_buffer).subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(block_size)));
    if (!frames_.send_message()) {
        reporter_.message_box(QStringLiteral("Unable to transmit data."));
        yield(3);
        return false;
    }
    if (!frames_.receive_message()) {
        reporter_.message_box(QStringLiteral("Unable to acknowledge transmitted data."));
        yield(3);
        return false;
    }
    if (!flash_to_rom(n)) {
        reporter_.message_box(QStringLiteral("Unable to flash to ROM."));
        yield(3);
        return false;
    }
    // The bar counts the image bytes the block carried, not the message with its header nor
    // the fill past the end of the file, so that it reaches its maximum with the last block.
    // Counted from the file's start and rounded up, so that no byte is lost between blocks.
    const std::int64_t divisor = std::max<std::int16_t>(progress_divisor, 1);
    const auto units_up_to = [&](std::int64_t blocks) {
        return (std::min(blocks * block_size, file_length_) + divisor - 1) / divisor;
    };
    advance_progress(view_, static_cast<long>(units_up_to(n) - units_up_to(n - 1)));
    yield(3);
    return true;
}

bool UploadLink::flash_to_rom(int n) {
    if (!send_empty(kFlashToRom, static_cast<std::uint8_t>(n))) {
        reporter_.message_box(QStringLiteral("Unable to flash data."));
        return false;
    }
    if (!frames_.receive_message()) {
        reporter_.message_box(QStringLiteral("Unable to receive acknowledgement of flash to ROM."));
        return false;
    }
    return true;
}

bool UploadLink::send_eof() {
    if (!send_empty(kEndOfFile, 0)) {
        reporter_.message_box(QStringLiteral("Unable to send EOF notice."));
        return false;
    }
    if (!frames_.receive_message()) {
        reporter_.message_box(QStringLiteral("Did not receive EOF acknowledgement."));
        return false;
    }
    return true;
}

}  // namespace halvern
