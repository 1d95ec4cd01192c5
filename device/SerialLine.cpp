// A local serial device over QSerialPort's blocking waits: no event loop is needed, and it
// works the same inside a running application.

#include "device/SerialLine.h"

#include <QThread>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace halvern {

namespace {

int remaining_ms(const QDeadlineTimer& deadline) {
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

}  // namespace

SerialLine::SerialLine(QString path) : path_(std::move(path)) {}

SerialLine::~SerialLine() { close(); }

std::int32_t SerialLine::open(std::int32_t baud_rate, std::int32_t /*timeout_ms*/) {
    struct stat st {};
    if (::stat(path_.toLocal8Bit().constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return kPortNotFound;

    serial_.setPortName(path_);
    if (!serial_.open(QIODevice::ReadWrite))
        return serial_.error() == QSerialPort::DeviceNotFoundError ? kPortNotFound : kAccessDenied;

    // Exclusive use: no further open of the device while it is held (the driver refuses it).
    if (::ioctl(descriptor(), TIOCEXCL) != 0) {
        serial_.close();
        return kAccessDenied;
    }
    if (!serial_.setBaudRate(baud_rate) || !serial_.setDataBits(QSerialPort::Data8) ||
        !serial_.setParity(QSerialPort::NoParity) || !serial_.setStopBits(QSerialPort::OneStop) ||
        !serial_.setFlowControl(QSerialPort::NoFlowControl)) {
        serial_.close();
        return kInvalidParameter;
    }
    return kOk;
}

std::int32_t SerialLine::set_baud_rate(std::int32_t baud_rate) {
    return serial_.setBaudRate(baud_rate) ? kOk : kInvalidParameter;
}

std::int32_t SerialLine::write(const char* data, qsizetype size, const QDeadlineTimer& deadline) {
    serial_.clearError();
    if (serial_.write(data, size) != size) return kWriteFault;
    while (serial_.bytesToWrite() > 0) {
        if (deadline.hasExpired()) return kWriteFault;
        if (!serial_.waitForBytesWritten(remaining_ms(deadline))) {
            const auto error = serial_.error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) return kWriteFault;
            serial_.clearError();
        }
    }
    // The driver's own output queue: wait until it is empty, within the same bound.
    const int fd = descriptor();
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (deadline.hasExpired()) return kWriteFault;
        QThread::msleep(1);
    }
    return kOk;
}

std::int32_t SerialLine::read(QByteArray& into, const QDeadlineTimer& deadline) {
    serial_.clearError();
    while (true) {
        const QByteArray got = serial_.readAll();
        if (!got.isEmpty()) {
            into += got;
            return kOk;
        }
        if (deadline.hasExpired()) return kTimeout;
        if (!serial_.waitForReadyRead(remaining_ms(deadline))) {
            const auto error = serial_.error();
            if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) return kReadFault;
            serial_.clearError();
        }
    }
}

void SerialLine::discard_input() {
    serial_.clear(QSerialPort::Input);
    serial_.readAll();
}

void SerialLine::close() {
    if (serial_.isOpen()) serial_.close();
}

int SerialLine::descriptor() const { return serial_.isOpen() ? static_cast<int>(serial_.handle()) : -1; }

}  // namespace halvern
