#pragma once
// The serial port dialog: choose the port and the baud rate of the next device commands, and
// Reset Port. Opened modally from the Setup menu; each opening starts from the current
// application state.
//
// Controls (objectName = control name): Frame1 "Serial Port" with optCom0..optCom3
// "COM1".."COM4", Frame2 "Baud Rate" with optBaudRate0..optBaudRate2 "38400", "19200",
// "9600"; cmdSelect "&OK", cmdCancel "&Cancel", cmdResetPort "&Reset Port".
// Beside each port option an editable list cboDevice0..cboDevice3 holds the device that name
// reaches (section "Ports" of the settings): one of the serial ports found on the machine, or
// a device path or network address typed in. cmdRefresh reads the ports found again;
// lblPortsFound says how many there are, or that there are none.

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/PortList.h"
#include "device/SerialConnection.h"

#include <QDialog>

#include <array>

class QComboBox;
class QLabel;
class QRadioButton;

namespace halvern {

class frmComPort : public QDialog {
    Q_OBJECT
public:
    // Selects the option whose caption equals state.port_name exactly and the baud rate equal
    // to state.baud_rate; without a match the design selection "COM1" and "9600" stays.
    // ports lists the serial ports found (the machine's own when none is given).
    frmComPort(AppState& state, SettingsStore& settings, SerialConnection& connection, QWidget* parent = nullptr,
               const PortList* ports = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    // Sets port_name and baud_rate from the selection, writes "Port" and "Baud Rate" and the
    // device of each port name to section "Ports", closes.
    void on_cmdSelect_clicked();
    // Reads the ports found again; what each port name reaches stays as it is.
    void on_cmdRefresh_clicked();
    // Reset Port of the serial connection; the dialog stays open.
    void on_cmdResetPort_clicked();

private:
    AppState& state_;
    SettingsStore& settings_;
    SerialConnection& connection_;
    std::array<QRadioButton*, 4> optCom_{};
    std::array<QRadioButton*, 3> optBaudRate_{};
    std::array<QComboBox*, 4> cboDevice_{};
    QLabel* lblPortsFound_ = nullptr;
    const PortList& ports_;
    bool centred_ = false;
};

}  // namespace halvern
