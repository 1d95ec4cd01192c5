#include "dialogs/frmComPort.h"

#include "common/CenterForm.h"
#include "device/PortResolver.h"
#include "dialogs/HelpWindow.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <iterator>

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

const QString kPortsSection = QStringLiteral("Ports");

// The port frame: each option with the device it reaches beside it.
QGroupBox* port_frame(QWidget* parent, std::array<QRadioButton*, 4>& options, std::array<QComboBox*, 4>& devices) {
    auto* frame = new QGroupBox(QStringLiteral("Serial Port"), parent);
    frame->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(frame);
    for (std::size_t i = 0; i < options.size(); ++i) {
        options[i] = new QRadioButton(QStringLiteral("COM%1").arg(i + 1), frame);
        options[i]->setObjectName(QStringLiteral("optCom%1").arg(i));
        devices[i] = new QComboBox(frame);
        devices[i]->setObjectName(QStringLiteral("cboDevice%1").arg(i));
        devices[i]->setEditable(true);
        devices[i]->setInsertPolicy(QComboBox::NoInsert);
        devices[i]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        devices[i]->setMinimumContentsLength(24);
        devices[i]->setToolTip(QStringLiteral(
            "The device COM%1 reaches: a serial port found on this machine, a device path, "
            "rfc2217://HOST:PORT or tcp://HOST:PORT")
                                   .arg(i + 1));
        grid->addWidget(options[i], static_cast<int>(i), 0);
        grid->addWidget(devices[i], static_cast<int>(i), 1);
    }
    grid->setColumnStretch(1, 1);
    return frame;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

static const PortList& port_list(const PortList* given) {
    static const SystemPortList system;
    return given ? *given : system;
}

frmComPort::frmComPort(AppState& state, SettingsStore& settings, SerialConnection& connection, QWidget* parent,
                       const PortList* ports)
    : QDialog(parent), state_(state), settings_(settings), connection_(connection), ports_(port_list(ports)) {
    setObjectName(QStringLiteral("frmComPort"));
    setWindowTitle(QStringLiteral("Select Serial Port"));

    auto* frames = new QHBoxLayout;
    frames->addWidget(port_frame(this, optCom_, cboDevice_), 1);
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

    QPushButton* cmdRefresh = button(this, "cmdRefresh", QStringLiteral("Re&fresh"));
    lblPortsFound_ = new QLabel(this);
    lblPortsFound_->setObjectName(QStringLiteral("lblPortsFound"));
    lblPortsFound_->setWordWrap(true);
    auto* found = new QHBoxLayout;
    found->addWidget(lblPortsFound_, 1);
    found->addWidget(cmdRefresh);
    auto* lblNetwork = new QLabel(
        QStringLiteral("A projector behind a serial device server: rfc2217://HOST:PORT sets the baud rate "
                       "of the far end; tcp://HOST:PORT cannot, so the far end must already run at 38400 baud."),
        this);
    lblNetwork->setObjectName(QStringLiteral("lblNetwork"));
    lblNetwork->setWordWrap(true);

    auto* left = new QVBoxLayout;
    left->addLayout(frames, 1);
    left->addLayout(found);
    left->addWidget(lblNetwork);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons);

    connect(cmdSelect, &QPushButton::clicked, this, &frmComPort::on_cmdSelect_clicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdResetPort, &QPushButton::clicked, this, &frmComPort::on_cmdResetPort_clicked);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmComPort::on_cmdRefresh_clicked);
    for (std::size_t i = 0; i < cboDevice_.size(); ++i) {
        QComboBox* devices = cboDevice_[i];
        QRadioButton* option = optCom_[i];
        // A port chosen from the list puts its name in the field, not its whole description;
        // choosing or typing the device of a port name selects that name.
        connect(devices, &QComboBox::activated, this, [devices, option](int index) {
            devices->setEditText(devices->itemData(index).toString());
            option->setChecked(true);
        });
        connect(devices->lineEdit(), &QLineEdit::textEdited, option, [option] { option->setChecked(true); });
    }
    // The keyboard goes through the controls as they stand: the ports, the baud rates,
    // "Re&fresh" under them, then the buttons on the right.
    QWidget* order[] = {optCom_[0], cboDevice_[0], optCom_[1], cboDevice_[1], optCom_[2], cboDevice_[2],
                        optCom_[3], cboDevice_[3], optBaudRate_[0], optBaudRate_[1], optBaudRate_[2],
                        cmdRefresh, cmdSelect, cmdCancel, cmdResetPort};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    setProperty("helpTopic", kHelpTopicComPort);
    on_cmdRefresh_clicked();
    const PortMap map = PortMap::read(settings_);
    for (std::size_t i = 0; i < cboDevice_.size(); ++i) cboDevice_[i]->setEditText(map.target(static_cast<int>(i) + 1));

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
    for (std::size_t i = 0; i < cboDevice_.size(); ++i) {
        // The field may hold a port's whole description (the list's completion of what was
        // typed): what is stored is the port's name.
        QString device = cboDevice_[i]->currentText().trimmed();
        if (const int found = cboDevice_[i]->findText(device, Qt::MatchFixedString | Qt::MatchCaseSensitive); found >= 0)
            device = cboDevice_[i]->itemData(found).toString();
        const int com = static_cast<int>(i) + 1;
        settings_.set(kPortsSection, QStringLiteral("COM%1").arg(com), device.isEmpty() ? default_com_device(com) : device);
    }
    accept();
}

void frmComPort::on_cmdRefresh_clicked() {
    const std::vector<PortInfo> found = ports_.ports();
    for (QComboBox* devices : cboDevice_) {
        const QString typed = devices->currentText();
        devices->clear();
        for (const PortInfo& port : found) {
            devices->addItem(port.summary(), port.name);
            devices->setItemData(devices->count() - 1, port.summary(), Qt::ToolTipRole);
        }
        // The list opens wide enough to read each port's whole description.
        devices->view()->setMinimumWidth(devices->view()->sizeHintForColumn(0) + 24);
        devices->setCurrentIndex(-1);
        devices->setEditText(typed);
    }
    if (found.empty())
        lblPortsFound_->setText(
            QStringLiteral("No serial port found on this machine: type a device path or a network address."));
    else if (found.size() == 1)
        lblPortsFound_->setText(QStringLiteral("1 serial port found: choose it from the list beside a port name."));
    else
        lblPortsFound_->setText(QStringLiteral("%1 serial ports found: choose one from the list beside a port name.")
                                    .arg(found.size()));
}

void frmComPort::on_cmdResetPort_clicked() { connection_.reset_port(); }

}  // namespace halvern
