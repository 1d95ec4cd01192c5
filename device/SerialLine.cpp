// A local serial device over QSerialPort's blocking waits: no event loop is needed, and it
// works the same inside a running application.

#include "device/SerialLine.h"


#include <QThread>

#include <cerrno>
#include <fcntl.h>
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
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);  // releases the lock
        lock_fd_ = -1;
    }
}

int SerialLine::descriptor() const { return serial_.isOpen() ? static_cast<int>(serial_.handle()) : -1; }

}  // namespace halvern
