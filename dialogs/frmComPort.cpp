#include "dialogs/frmComPort.h"

#include "common/CenterForm.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace halvern {

namespace {

template <std::size_t N>
QGroupBox* option_frame(QWidget* parent, const char* name, const QString& caption, const char* option_name,
                        const std::array<const char*, N>& captions, std::array<QRadioButton*, N>& options) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(frame);
    for (std::size_t i = 0; i < N; ++i) {
        options[i] = new QRadioButton(QString::fromLatin1(captions[i]), frame);
        options[i]->setObjectName(QString::fromLatin1(option_name) + QString::number(i));
        layout->addWidget(options[i]);
    }
    layout->addStretch();
    return frame;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

frmComPort::frmComPort(AppState& state, SettingsStore& settings, SerialConnection& connection, QWidget* parent)
    : QDialog(parent), state_(state), settings_(settings), connection_(connection) {
    setObjectName(QStringLiteral("frmComPort"));
    setWindowTitle(QStringLiteral("Select Serial Port"));

    auto* frames = new QHBoxLayout;
    frames->addWidget(option_frame<4>(this, "Frame1", QStringLiteral("Serial Port"), "optCom",
                                      {"COM1", "COM2", "COM3", "COM4"}, optCom_));
    frames->addWidget(option_frame<3>(this, "Frame2", QStringLiteral("Baud Rate"), "optBaudRate",
                                      {"38400", "19200", "9600"}, optBaudRate_));

    QPushButton* cmdSelect = button(this, "cmdSelect", QStringLiteral("&OK"));
    QPushButton* cmdCancel = button(this, "cmdCancel", QStringLiteral("&Cancel"));
    QPushButton* cmdResetPort = button(this, "cmdResetPort", QStringLiteral("&Reset Port"));
    cmdSelect->setDefault(true);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdSelect);
    buttons->addWidget(cmdCancel);
    buttons->addStretch();
    buttons->addWidget(cmdResetPort);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(frames, 1);
    layout->addLayout(buttons);

    connect(cmdSelect, &QPushButton::clicked, this, &frmComPort::on_cmdSelect_clicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdResetPort, &QPushButton::clicked, this, &frmComPort::on_cmdResetPort_clicked);

    // Design selection, then whatever the current state names.
    optCom_[0]->setChecked(true);
    optBaudRate_[2]->setChecked(true);
    for (QRadioButton* option : optCom_)
        if (option->text() == state_.port_name) option->setChecked(true);
    for (QRadioButton* option : optBaudRate_)
        if (option->text().toInt() == state_.baud_rate) option->setChecked(true);
}

void frmComPort::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        center_form(*this);
    }
    QDialog::showEvent(event);
}

void frmComPort::on_cmdSelect_clicked() {
    for (QRadioButton* option : optCom_)
        if (option->isChecked()) state_.port_name = option->text();
    for (QRadioButton* option : optBaudRate_)
        if (option->isChecked()) state_.baud_rate = option->text().toInt();
    settings_.set_startup(QStringLiteral("Port"), state_.port_name);
    settings_.set_startup(QStringLiteral("Baud Rate"), QString::number(state_.baud_rate));
    accept();
}

void frmComPort::on_cmdResetPort_clicked() { connection_.reset_port(); }

}  // namespace halvern
