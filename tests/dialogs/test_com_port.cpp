// The serial port dialog, headless: its real option buttons, lists and push buttons are
// clicked and typed into.
#include "dialogs/frmComPort.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"
#include "tests/support/ScriptedPortList.h"
#include "tests/support/WindowDriver.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

struct Rig {
    QTemporaryDir tmp;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    SerialConnection connection{library, state, settings, reporter};
    ScriptedPortList ports;
    std::unique_ptr<frmComPort> dialog;

    Rig(const QString& port, std::int32_t baud) {
        state.port_name = port;
        state.baud_rate = baud;
        settings.set_startup("Port", port);
        settings.set_startup("Baud Rate", QString::number(baud));
    }
    frmComPort& open() {
        dialog = std::make_unique<frmComPort>(state, settings, connection, nullptr, &ports);
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return *dialog;
    }
    QComboBox* devices(int port) { return control<QComboBox>(*dialog, QStringLiteral("cboDevice%1").arg(port)); }
    void click(const QString& name) { test::click(*dialog, name); }
    // The captions of the selected port and baud rate options.
    QStringList selection() {
        QStringList out;
        for (auto* o : dialog->findChildren<QRadioButton*>())
            if (o->isChecked()) out << o->text();
        return out;
    }
    QStringList stored() const { return {settings.startup("Port"), settings.startup("Baud Rate")}; }
    // What the four port names reach, as section "Ports" holds it.
    QStringList port_map() const {
        QStringList out;
        for (const char* n : {"COM1", "COM2", "COM3", "COM4"}) out << settings.get("Ports", n, "(none)");
        return out;
    }
    // Opens the list beside a port name with the mouse and clicks the entry in line row.
    void choose(int port, int row) {
        QComboBox* combo = devices(port);
        QTest::mouseClick(combo, Qt::LeftButton, {}, QPoint(combo->width() - 4, combo->height() / 2));
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(view->isVisible());
        // The list takes no click as quick as a double click after the one that opened it.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        const QPoint at(std::min(rect.center().x(), view->viewport()->width() / 2), rect.center().y());
        QTest::mouseMove(view->viewport(), at);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        ASSERT_FALSE(view->isVisible());
    }
    // Replaces the text beside a port name by typing.
    void type(int port, const QString& text) {
        QLineEdit* edit = devices(port)->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
};

}  // namespace

TEST(ComPortDialog, OpensWithTheCurrentSelectionAndOkStoresWhatIsSelected) {
    // A port or rate the dialog does not offer shows as the first port or the lowest rate.
    // Selected captions at opening, then clicked in the two option groups, then stored.
    const struct { const char* name; QString port; std::int32_t baud; QStringList shown, clicks, stored; } cases[] = {
        {"COM3 at 19200", "COM3", 19200, {"COM3", "19200"}, {}, {"COM3", "19200"}},
        {"lower-case port", "com3", 38400, {"COM1", "38400"}, {}, {"COM1", "38400"}},
        {"unknown baud rate", "COM4", 57600, {"COM4", "9600"}, {}, {"COM4", "9600"}},
        {"changed", "COM1", 9600, {"COM1", "9600"}, {"optCom1", "optBaudRate0"}, {"COM2", "38400"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(c.port, c.baud);
        r.open();
        EXPECT_EQ(r.selection(), c.shown);
        for (const QString& option : c.clicks) r.click(option);
        r.click("cmdSelect");
        EXPECT_EQ(r.dialog->result(), QDialog::Accepted);
        EXPECT_EQ(r.state.port_name, c.stored[0]);
        EXPECT_EQ(r.state.baud_rate, c.stored[1].toInt());
        EXPECT_EQ(r.stored(), c.stored);
        EXPECT_TRUE(r.library.calls.empty());  // OK neither opens nor closes the port
    }
}

TEST(ComPortDialog, CancelAndTitleBarCloseChangeNothingResetPortKeepsItOpen) {
    for (const bool title_bar : {false, true}) {
        Rig r("COM3", 19200);
        r.settings.set_startup("hndCom", "41");
        r.open();
        r.click("optCom0");
        r.click("optBaudRate2");
        r.devices(0)->setEditText("/dev/ttyACM0");
        r.click("cmdResetPort");
        EXPECT_EQ(r.library.calls, std::vector<std::string>{"close 41"});
        EXPECT_EQ(r.reporter.boxes(), QStringList{"Serial port has been reset."});
        EXPECT_TRUE(r.dialog->isVisible());
        if (title_bar) r.dialog->close();
        else r.click("cmdCancel");
        EXPECT_EQ(r.dialog->result(), QDialog::Rejected);
        EXPECT_EQ(r.state.port_name, "COM3");
        EXPECT_EQ(r.stored(), (QStringList{"COM3", "19200"}));
        EXPECT_EQ(r.port_map(), QStringList(4, "(none)"));
    }
}

TEST(ComPortDialog, ThePortChosenOrTypedBesideANameSelectsThatNameAndOkStoresIt) {
    Rig r("COM1", 9600);
    r.ports.found = {test::usb_adapter(), test::onboard_uart()};
    r.settings.set("Ports", "COM4", " tcp://10.0.0.9:4001 ");
    r.open();
    EXPECT_EQ(control<QLabel>(*r.dialog, "lblPortsFound")->text(),
              "2 serial ports found: choose one from the list beside a port name.");
    // The list says what each port is; choosing one puts its name in the field.
    EXPECT_EQ(r.devices(0)->itemText(0), "/dev/serial/by-id/usb-Maker_USB_Serial_A10K3XZ-if00-port0 (USB Serial, "
                                         "Maker, serial A10K3XZ, 0403:6001, /dev/ttyUSB0)");
    r.choose(2, 1);
    EXPECT_EQ(r.selection(), (QStringList{"COM3", "9600"}));
    r.choose(1, 0);
    EXPECT_EQ(r.selection(), (QStringList{"COM2", "9600"}));
    r.type(3, "rfc2217://10.0.0.5:2001");
    EXPECT_EQ(r.selection(), (QStringList{"COM4", "9600"}));
    r.type(0, "");  // an emptied field stands for the default
    EXPECT_EQ(r.selection(), (QStringList{"COM1", "9600"}));
    r.click("optCom1");
    r.click("cmdSelect");
    EXPECT_EQ(r.stored(), (QStringList{"COM2", "9600"}));
    EXPECT_EQ(r.port_map(), (QStringList{"/dev/ttyS0", test::usb_adapter().name, "/dev/ttyS0", "rfc2217://10.0.0.5:2001"}));
}

TEST(ComPortDialog, AltOStoresThePortNameTypedNotTheDescriptionItWasCompletedTo) {
    Rig r("COM1", 9600);
    r.ports.found = {test::usb_adapter()};
    r.open();
    r.type(1, test::usb_adapter().name);
    ASSERT_EQ(r.devices(1)->currentText(), test::usb_adapter().summary());  // the list completed it
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.dialog->result() == QDialog::Accepted; }));  // an animated click
    EXPECT_EQ(r.stored()[0], "COM2");
    EXPECT_EQ(r.settings.get("Ports", "COM2", "(none)"), test::usb_adapter().name);
}

TEST(ComPortDialog, RefreshReadsThePortsAgainKeepsWhatIsTypedAndComesInTheTabOrderWhereItStands) {
    Rig r("COM2", 9600);
    r.open();
    r.type(1, "/dev/ttyACM0");
    const struct { std::vector<PortInfo> found; const char* text; } steps[] = {
        {{test::onboard_uart()}, "1 serial port found: choose it from the list beside a port name."},
        {{}, "No serial port found on this machine: type a device path or a network address."},
    };
    for (const auto& step : steps) {
        r.ports.found = step.found;
        r.click("cmdRefresh");
        EXPECT_EQ(control<QLabel>(*r.dialog, "lblPortsFound")->text(), step.text);
        EXPECT_EQ(r.devices(1)->count(), int(step.found.size()));
        EXPECT_EQ(r.devices(1)->currentText(), "/dev/ttyACM0");
    }
    EXPECT_EQ(r.ports.reads, 3);

    // Tab from the last baud rate reaches "Re&fresh", and the next Tab "&OK".
    QStringList chain;
    for (QWidget* w = control<QWidget>(*r.dialog, "optBaudRate2"); chain.size() < 3; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus) chain << w->objectName();
    EXPECT_EQ(chain, (QStringList{"optBaudRate2", "cmdRefresh", "cmdSelect"}));
}
