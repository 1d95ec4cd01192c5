#pragma once
// A line on a local serial device (a UART, a USB adapter, a pseudo-terminal) over QSerialPort.

#include "device/Line.h"
#include "device/PortDiagnosis.h"

#include <QSerialPort>

#include <chrono>
#include <functional>

namespace halvern {

// Waits until the driver's output queue is empty without looking at it more often than the
// line can move bytes: it sleeps for as long as the bytes still queued take at baud_rate (ten
// bits a byte), then looks again. queued() gives the bytes in the queue, or -1 when the driver
// cannot say (then there is nothing to wait for). kOk, or kWriteFault when the deadline passes
// first: a line that does not move its bytes fails.
std::int32_t wait_for_output_queue(const std::function<int()>& queued, std::int32_t baud_rate,
                                   const QDeadlineTimer& deadline,
                                   const std::function<void(std::chrono::microseconds)>& sleep);

class SerialLine : public Line {
public:
    explicit SerialLine(QString path);
    ~SerialLine() override;

    std::int32_t open(std::int32_t baud_rate, std::int32_t timeout_ms) override;
    std::int32_t write(const char* data, qsizetype size, const QDeadlineTimer& deadline) override;
    std::int32_t read(QByteArray& into, const QDeadlineTimer& deadline) override;
    void discard_input() override;
    void close() override;
    // The device itself, after following links: every name of one device is one port.
    QString identity() const override;
    int descriptor() const override;
    QString open_failure() const override { return open_failure_; }

private:
    std::int32_t fail(std::int32_t result, PortTrouble trouble);
    // Asks the driver to hand received bytes on at once (USB adapters otherwise hold them back
    // for their latency timer); quietly nothing where the driver has no such mode.
    void set_low_latency();
    void restore_latency();

    QString path_;
    QSerialPort serial_;
    // A descriptor of our own on the device, holding an exclusive flock for as long as the
    // line is open: the driver's exclusive-use flag does not bind a privileged process, the
    // lock binds every program that asks for it.
    int lock_fd_ = -1;
    QString open_failure_;
    int flags_before_ = -1;  // the driver's serial flags before set_low_latency changed them
};

}  // namespace halvern
