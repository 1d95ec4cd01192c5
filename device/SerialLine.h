#pragma once
// A line on a local serial device (a UART, a USB adapter, a pseudo-terminal) over QSerialPort.

#include "device/Line.h"

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
    QString identity() const override { return path_; }
    int descriptor() const override;

private:
    QString path_;
    QSerialPort serial_;
};

}  // namespace halvern
