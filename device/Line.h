#pragma once
// The byte transport under the device library: one open line to a projector, whatever carries
// it. The library does the device commands and the framing; a line only moves bytes. Every
// call blocks on the caller's thread until it is done or its deadline has passed, and results
// are the library's own (DeviceResult).

#include "device/DeviceLibrary.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <memory>

namespace halvern {

class Line {
public:
    virtual ~Line() = default;

    // Opens the line at baud_rate, 8 data bits, no parity, one stop bit, no flow control, for
    // exclusive use, within timeout_ms where opening takes time (a network connection).
    // kOk, kPortNotFound, kAccessDenied or kInvalidParameter.
    virtual std::int32_t open(std::int32_t baud_rate, std::int32_t timeout_ms) = 0;
    // Writes size bytes and waits until they have left (drained onto the wire), within the
    // deadline. kOk or kWriteFault.
    virtual std::int32_t write(const char* data, qsizetype size, const QDeadlineTimer& deadline) = 0;
    // Appends whatever has arrived to into; with nothing there, waits until something arrives
    // or the deadline passes. kOk when at least one byte was appended, kTimeout, kReadFault.
    virtual std::int32_t read(QByteArray& into, const QDeadlineTimer& deadline) = 0;
    // Throws away whatever has arrived and not been read.
    virtual void discard_input() = 0;
    virtual void close() = 0;
    // What the line reaches, as the port name resolved to it (a device number, a network
    // name). Two lines with the same identity reach the same port.
    virtual QString identity() const = 0;
    // The operating-system descriptor of an open line, or -1 when it has none.
    virtual int descriptor() const { return -1; }
    // After a failed open: why, in one line a technician can act on; empty when unknown.
    virtual QString open_failure() const { return QString(); }
};

// The line that reaches a resolved port name (a device path or a network name).
std::unique_ptr<Line> make_line(const QString& path);

}  // namespace halvern
