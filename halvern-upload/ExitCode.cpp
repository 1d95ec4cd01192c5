#include "halvern-upload/ExitCode.h"

namespace halvern::cli {

int failure_exit_code(const StatusLine& status) {
    if (status.icon == 2) return kExitCoolDownCancelled;
    const QString& t = status.text;
    if (t == QLatin1String("Unable to connect to serial port.") ||
        t == QLatin1String("Unable to communicate with serial port.") ||
        t == QLatin1String("Unable to set baud rate to 38.4 kbps"))
        return kExitPortNotOpened;
    if (t == QLatin1String("Unable to read select version control file.")) return kExitBadArguments;
    if (t == QLatin1String("User canceled device cool down.")) return kExitCoolDownCancelled;
    if (t == QLatin1String("There was an error uploading the operating system to the device."))
        return kExitTransferFailed;
    return kExitDeviceFailed;
}

int upload_exit_code(bool uploaded, const std::optional<StatusLine>& last) {
    if (uploaded) return kExitOk;
    if (!last || last->icon == 1) {
        // A success line without a confirmed upload cannot come from the upload road; it is
        // not taken for one.
        if (last && last->text == QLatin1String("The operating system has been uploaded successfully!"))
            return kExitTransferFailed;
        return kExitDeclined;
    }
    return failure_exit_code(*last);
}

int query_exit_code(const std::optional<StatusLine>& last) {
    if (!last) return kExitDeviceFailed;
    if (last->icon == 1) return kExitOk;
    return failure_exit_code(*last);
}

}  // namespace halvern::cli
