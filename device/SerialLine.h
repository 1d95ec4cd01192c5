#pragma once
// A line on a local serial device (a UART, a USB adapter, a pseudo-terminal) over QSerialPort.

#include "device/Line.h"
#include "device/PortDiagnosis.h"

#include <QSerialPort>

namespace halvern {

class SerialLine : public Line {
public:
    explicit SerialLine(QString path);
    ~SerialLine() override;

    std::int32_t open(std::int32_t baud_rate, std::int32_t timeout_ms) override;
    std::int32_t set_baud_rate(std::int32_t baud_rate) override;
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

    QString path_;
    QSerialPort serial_;
    // A descriptor of our own on the device, holding an exclusive flock for as long as the
    // line is open: the driver's exclusive-use flag does not bind a privileged process, the
    // lock binds every program that asks for it.
    int lock_fd_ = -1;
    QString open_failure_;
};

}  // namespace halvern
