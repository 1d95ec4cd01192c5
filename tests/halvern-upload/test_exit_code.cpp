// The exit status from the way a command ended: the status lines the upload road, the status
// query and the device search end with.

#include "halvern-upload/ExitCode.h"
#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

namespace halvern::cli {
namespace {

TEST(ExitCode, UploadEndings) {
    const struct {
        bool uploaded;
        int icon;  // 0: no status line at all
        const char* text;
        int code;
    } cases[] = {
        {true, 1, "The operating system has been uploaded successfully!", 0},
        {false, 0, "", kExitDeclined},                       // confirmation answered No
        {false, 1, "Starting upload...", kExitDeclined},     // power-off question answered No
        {false, 1, "The operating system has been uploaded successfully!", kExitTransferFailed},
        {false, 3, "Unable to connect to serial port.", kExitPortNotOpened},
        {false, 3, "Unable to set baud rate to 38.4 kbps", kExitPortNotOpened},
        {false, 3, "Unable to get device status.", kExitDeviceFailed},
        {false, 3, "Unable to turn device off.", kExitDeviceFailed},
        {false, 3, "Unexpected status code from device. (1) 0", kExitDeviceFailed},
        {false, 3, "Unexpected status code from device. (1) 1460", kExitDeviceFailed},
        {false, 3, "Unable to set device to upload mode.", kExitDeviceFailed},
        {false, 3, "Unable to read select version control file.", kExitBadArguments},
        {false, 2, "User canceled device cool down.", kExitCoolDownCancelled},
        {false, 3, "There was an error uploading the operating system to the device.", kExitTransferFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<StatusLine> last =
            c.icon ? std::optional<StatusLine>(StatusLine{c.icon, QString::fromUtf8(c.text)}) : std::nullopt;
        EXPECT_EQ(upload_exit_code(c.uploaded, last), c.code);
    }
}

TEST(ExitCode, QueryEndings) {
    const struct {
        int icon;
        const char* text;
        int code;
    } cases[] = {
        {1, "", 0},  // device search found one
        {1, "Device is on.", 0},
        {1, "Device is cooling down.", 0},
        {1, "Device is in stand by mode.", 0},
        {3, "Unable to connect to serial port.", kExitPortNotOpened},
        {3, "Unable to communicate with serial port.", kExitPortNotOpened},
        {3, "Unable to find any devices connect to this computer.", kExitDeviceFailed},
        {3, "Unable to query device status.", kExitDeviceFailed},
        {3, "Unexpected status code from device (2) 0", kExitDeviceFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(query_exit_code(StatusLine{c.icon, QString::fromUtf8(c.text)}), c.code);
    }
    EXPECT_EQ(query_exit_code(std::nullopt), kExitDeviceFailed);
}

}  // namespace
}  // namespace halvern::cli
