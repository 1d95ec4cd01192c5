// A local serial device over QSerialPort's blocking waits: no event loop is needed, and it
// works the same inside a running application.

#include "device/SerialLine.h"

#include <QThread>

#include <algorithm>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace halvern {

namespace {

int remaining_ms(const QDeadlineTimer& deadline) {
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

}  // namespace

std::int32_t wait_for_output_queue(const std::function<int()>& queued, std::int32_t baud_rate,
                                   const QDeadlineTimer& deadline,
                                   const std::function<void(std::chrono::microseconds)>& sleep) {
    using std::chrono::microseconds;
    const std::int64_t rate = std::max<std::int32_t>(baud_rate, 1);
    for (int n = queued(); n > 0; n = queued()) {
        if (deadline.hasExpired()) return kWriteFault;
        // The time the queued bytes take on the line, at least a tenth of a millisecond and
        // never past the deadline.
        const std::int64_t line_us = std::int64_t(n) * 10 * 1'000'000 / rate;
        const std::int64_t left_us = std::max<std::int64_t>(deadline.remainingTimeNSecs() / 1000, 0);
        sleep(microseconds(std::clamp<std::int64_t>(line_us, 100, std::max<std::int64_t>(left_us, 100))));
    }
    return kOk;
}

SerialLine::SerialLine(QString path) : path_(std::move(path)) {}

SerialLine::~SerialLine() { close(); }

QString SerialLine::identity() const {
    struct stat st {};
    if (::stat(path_.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode))
        return QStringLiteral("character device %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    return path_;
}

std::int32_t SerialLine::fail(std::int32_t result, PortTrouble trouble) {
    close();
    open_failure_ = describe_port_trouble(trouble, path_);
    return result;
}

std::int32_t SerialLine::open(std::int32_t baud_rate, std::int32_t /*timeout_ms*/) {
    open_failure_.clear();
    const QByteArray native = path_.toLocal8Bit();
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) return fail(kPortNotFound, PortTrouble::kNotFound);
    if (!S_ISCHR(st.st_mode)) return fail(kPortNotFound, PortTrouble::kNotSerial);

    // The lock comes first, before anything touches the line's settings: a second program of
    // ours is turned away before it can disturb the first one's transfer.
    lock_fd_ = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lock_fd_ < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENXIO || e == ENODEV) return fail(kPortNotFound, PortTrouble::kNotFound);
        if (e == EACCES || e == EPERM || e == EROFS) return fail(kAccessDenied, PortTrouble::kDenied);
        return fail(kAccessDenied, PortTrouble::kInUse);  // EBUSY: held for exclusive use
    }
    termios probe {};
    if (::tcgetattr(lock_fd_, &probe) != 0) return fail(kPortNotFound, PortTrouble::kNotSerial);
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) return fail(kAccessDenied, PortTrouble::kInUse);

    serial_.setPortName(path_);
    if (!serial_.open(QIODevice::ReadWrite)) {
        const auto error = serial_.error();
        if (error == QSerialPort::DeviceNotFoundError) return fail(kPortNotFound, PortTrouble::kNotFound);
        if (error == QSerialPort::PermissionError) return fail(kAccessDenied, PortTrouble::kInUse);
        return fail(kAccessDenied, PortTrouble::kNone);
    }

    // Exclusive use: no further open of the device while it is held (the driver refuses it).
    if (::ioctl(descriptor(), TIOCEXCL) != 0) return fail(kAccessDenied, PortTrouble::kNone);
    if (!serial_.setBaudRate(baud_rate) || !serial_.setDataBits(QSerialPort::Data8) ||
        !serial_.setParity(QSerialPort::NoParity) || !serial_.setStopBits(QSerialPort::OneStop) ||
        !serial_.setFlowControl(QSerialPort::NoFlowControl))
        return fail(kInvalidParameter, PortTrouble::kNone);
    set_low_latency();
    return kOk;
}

void SerialLine::set_low_latency() {
    serial_struct serial {};
    if (::ioctl(descriptor(), TIOCGSERIAL, &serial) != 0) return;  // a pseudo-terminal, a network tty
    if (serial.flags & ASYNC_LOW_LATENCY) return;
    const int before = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(descriptor(), TIOCSSERIAL, &serial) == 0) flags_before_ = before;
}

void SerialLine::restore_latency() {
    if (flags_before_ < 0) return;
    serial_struct serial {};
    if (::ioctl(descriptor(), TIOCGSERIAL, &serial) == 0) {
        serial.flags = (serial.flags & ~ASYNC_LOW_LATENCY) | (flags_before_ & ASYNC_LOW_LATENCY);
        ::ioctl(descriptor(), TIOCSSERIAL, &serial);
    }
    flags_before_ = -1;
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
    return wait_for_output_queue(
        [fd] {
            int queued = 0;
            return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
        },
        serial_.baudRate(), deadline, [](std::chrono::microseconds t) { std::this_thread::sleep_for(t); });
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
    if (serial_.isOpen()) {
        restore_latency();
        serial_.close();
    }
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);  // releases the lock
        lock_fd_ = -1;
    }
}

int SerialLine::descriptor() const { return serial_.isOpen() ? static_cast<int>(serial_.handle()) : -1; }

}  // namespace halvern
