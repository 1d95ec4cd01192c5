// The serial port dialog, headless: its real option buttons and push buttons are clicked.
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
    }
    void store() {
        settings.set_startup("Port", state.port_name);
        settings.set_startup("Baud Rate", QString::number(state.baud_rate));
    }
    frmComPort& open() {
        dialog = std::make_unique<frmComPort>(state, settings, connection, nullptr, &ports);
        dialog->show();
        return *dialog;
    }
    template <class W> W* control(const QString& name) { return test::control<W>(*dialog, name); }
    void click(const QString& name) { test::click(*dialog, name); }
    // The captions of the selected port and baud rate options.
    QStringList selection() {
        QStringList out;
        for (const QString& group : {QStringLiteral("optCom"), QStringLiteral("optBaudRate")})
            for (int i = 0; i < 4; ++i)
                if (auto* o = dialog->findChild<QRadioButton*>(group + QString::number(i)); o && o->isChecked()) out << o->text();
        return out;
    }
    QStringList stored() const { return {settings.startup("Port"), settings.startup("Baud Rate")}; }
    // What the four port names reach, as the dialog shows it and as section "Ports" holds it.
    QStringList devices() {
        QStringList out;
        for (int i = 0; i < 4; ++i) out << control<QComboBox>(QStringLiteral("cboDevice%1").arg(i))->currentText();
        return out;
    }
    QStringList port_map() const {
        QStringList out;
        for (int n = 1; n <= 4; ++n) out << settings.get("Ports", QStringLiteral("COM%1").arg(n), "(none)");
        return out;
    }
    // Opens the list beside a port name with the mouse and clicks the entry in line row.
    void choose(int port, int row) {
        auto* combo = control<QComboBox>(QStringLiteral("cboDevice%1").arg(port));
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
        QLineEdit* edit = control<QComboBox>(QStringLiteral("cboDevice%1").arg(port))->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    QString found_text() { return control<QLabel>("lblPortsFound")->text(); }
};

}  // namespace

TEST(ComPortDialog, Captions) {
    Rig r("COM1", 9600);
    frmComPort& d = r.open();
    EXPECT_EQ(d.windowTitle(), "Select Serial Port");
    const QStringList names{"optCom0",      "optCom1",      "optCom2",      "optCom3",   "optBaudRate0",
                            "optBaudRate1", "optBaudRate2", "cmdSelect",    "cmdCancel", "cmdResetPort"};
    EXPECT_EQ(texts(d, names),
              (QStringList{"COM1", "COM2", "COM3", "COM4", "38400", "19200", "9600", "&OK", "&Cancel", "&Reset Port"}));
    for (const QString& name : names) EXPECT_TRUE(control(d, name)->isVisible()) << name.toStdString();
}

TEST(ComPortDialog, OpensWithTheCurrentSelectionAndOkStoresWhatIsSelected) {
    // Nothing is stored before: OK writes even an untouched selection. A port or rate the
    // dialog does not offer shows as the first port or the lowest rate.
    const struct {
        const char* name;
        QString port;
        std::int32_t baud;
        QStringList shown;    // selected captions at opening
        QStringList clicks;   // then clicked in the two option groups
        QStringList stored;
    } cases[] = {
        {"COM3 at 19200", "COM3", 19200, {"COM3", "19200"}, {}, {"COM3", "19200"}},
        {"COM4 at 38400", "COM4", 38400, {"COM4", "38400"}, {}, {"COM4", "38400"}},
        {"lower-case port", "com3", 19200, {"COM1", "19200"}, {}, {"COM1", "19200"}},
        {"unknown port", "/dev/ttyUSB0", 9600, {"COM1", "9600"}, {}, {"COM1", "9600"}},
        {"unknown baud rate", "COM2", 57600, {"COM2", "9600"}, {}, {"COM2", "9600"}},
        {"baud rate 0", "COM2", 0, {"COM2", "9600"}, {}, {"COM2", "9600"}},
        {"changed", "COM1", 9600, {"COM1", "9600"}, {"optCom1", "optBaudRate0"}, {"COM2", "38400"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(c.port, c.baud);
        r.open();
        EXPECT_EQ(r.selection(), c.shown);
        for (const QString& option : c.clicks) r.click(option);
        EXPECT_EQ(r.selection(), c.stored);
        r.click("cmdSelect");
        EXPECT_EQ(r.dialog->result(), QDialog::Accepted);
        EXPECT_FALSE(r.dialog->isVisible());
        EXPECT_EQ(r.state.port_name, c.stored[0]);
        EXPECT_EQ(r.state.baud_rate, c.stored[1].toInt());
        EXPECT_EQ(r.stored(), c.stored);
        EXPECT_TRUE(r.library.calls.empty());  // OK neither opens nor closes the port
    }
}

TEST(ComPortDialog, CancelAndTitleBarCloseChangeNothing) {
    for (const bool title_bar : {false, true}) {
        SCOPED_TRACE(title_bar ? "title bar" : "cmdCancel");
        Rig r("COM3", 19200);
        r.store();
        r.open();
        r.click("optCom0");
        r.click("optBaudRate2");
        if (title_bar) r.dialog->close();
        else r.click("cmdCancel");
        EXPECT_FALSE(r.dialog->isVisible());
        EXPECT_EQ(r.dialog->result(), QDialog::Rejected);
        EXPECT_EQ(r.state.port_name, "COM3");
        EXPECT_EQ(r.state.baud_rate, 19200);
        EXPECT_EQ(r.stored(), (QStringList{"COM3", "19200"}));
    }
}

TEST(ComPortDialog, ResetPortKeepsTheDialogOpen) {
    struct Case { const char* stored; std::int32_t result; QString call; QStringList boxes; };
    const Case cases[] = {
        {nullptr, kOk, "close 0", {"Serial port has been reset."}},
        {"41", kOk, "close 41", {"Serial port has been reset."}},
        {"41", kInvalidHandle, "close 41", {}},
    };
    for (const Case& c : cases) {
        Rig r("COM2", 19200);
        r.store();
        if (c.stored) r.settings.set_startup("hndCom", c.stored);
        r.state.serial_handle = 999;
        r.library.close_results = {c.result};
        r.open();
        r.click("optCom3");
        r.click("cmdResetPort");
        ASSERT_EQ(r.library.calls.size(), 1u);
        EXPECT_EQ(QString::fromStdString(r.library.calls[0]), c.call);
        EXPECT_EQ(r.reporter.boxes(), c.boxes);
        EXPECT_TRUE(r.dialog->isVisible());
        EXPECT_EQ(r.selection(), (QStringList{"COM4", "19200"}));  // the selection is untouched
        EXPECT_EQ(r.state.serial_handle, 999);
        EXPECT_EQ(r.stored(), (QStringList{"COM2", "19200"}));
    }
}

TEST(ComPortDialog, EachPortNameShowsTheDeviceItReaches) {
    Rig r("COM1", 9600);
    r.settings.set("Ports", "COM2", "/dev/ttyUSB3");
    r.settings.set("Ports", "COM4", " tcp://10.0.0.9:4001 ");
    r.open();
    EXPECT_EQ(r.devices(), (QStringList{"/dev/ttyS0", "/dev/ttyUSB3", "/dev/ttyS2", "tcp://10.0.0.9:4001"}));
    EXPECT_EQ(r.found_text(), "No serial port found on this machine: type a device path or a network address.");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.control<QComboBox>(QStringLiteral("cboDevice%1").arg(i))->count(), 0);
    EXPECT_TRUE(r.control<QLabel>("lblNetwork")->text().contains("38400"));

    // OK untouched writes the map as shown, defaults included.
    r.click("cmdSelect");
    EXPECT_EQ(r.port_map(), (QStringList{"/dev/ttyS0", "/dev/ttyUSB3", "/dev/ttyS2", "tcp://10.0.0.9:4001"}));
}

TEST(ComPortDialog, ChosenAndTypedDevicesAreStoredByOkOnly) {
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Rig r("COM1", 9600);
        r.ports.found = {test::usb_adapter(), test::onboard_uart()};
        r.settings.set("Ports", "COM3", "/dev/ttyS2");
        r.open();
        EXPECT_EQ(r.found_text(), "2 serial ports found: choose one from the list beside a port name.");
        auto* combo = r.control<QComboBox>("cboDevice0");
        ASSERT_EQ(combo->count(), 2);
        // The list says what each port is; choosing one puts its stable name in the field.
        EXPECT_EQ(combo->itemText(0), "/dev/serial/by-id/usb-Maker_USB_Serial_A10K3XZ-if00-port0 (USB Serial, Maker, "
                                      "serial A10K3XZ, 0403:6001, /dev/ttyUSB0)");
        EXPECT_EQ(combo->itemText(1), "/dev/ttyS0");
        r.choose(1, 1);
        r.choose(0, 0);
        r.type(2, "rfc2217://10.0.0.5:2001");
        r.type(3, "");  // an emptied field stands for the default
        EXPECT_EQ(r.devices(), (QStringList{test::usb_adapter().name, "/dev/ttyS0", "rfc2217://10.0.0.5:2001", ""}));
        r.click(ok ? "cmdSelect" : "cmdCancel");
        EXPECT_FALSE(r.dialog->isVisible());
        if (ok)
            EXPECT_EQ(r.port_map(), (QStringList{test::usb_adapter().name, "/dev/ttyS0", "rfc2217://10.0.0.5:2001",
                                                 "/dev/ttyS3"}));
        else
            EXPECT_EQ(r.port_map(), (QStringList{"(none)", "(none)", "/dev/ttyS2", "(none)"}));
        EXPECT_TRUE(r.library.calls.empty());
    }
}

TEST(ComPortDialog, RefreshReadsThePortsAgainAndKeepsWhatIsTyped) {
    Rig r("COM2", 9600);
    r.open();
    EXPECT_EQ(r.ports.reads, 1);
    r.type(1, "/dev/ttyACM0");
    const struct {
        std::vector<PortInfo> found;
        const char* text;
        int count;
    } steps[] = {
        {{test::onboard_uart()}, "1 serial port found: choose it from the list beside a port name.", 1},
        {{test::usb_adapter(), test::onboard_uart()}, "2 serial ports found: choose one from the list beside a port name.", 2},
        {{}, "No serial port found on this machine: type a device path or a network address.", 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        r.ports.found = step.found;
        r.click("cmdRefresh");
        EXPECT_EQ(r.found_text(), step.text);
        EXPECT_EQ(r.control<QComboBox>("cboDevice1")->count(), step.count);
        EXPECT_EQ(r.devices(), (QStringList{"/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyS2", "/dev/ttyS3"}));
        EXPECT_TRUE(r.dialog->isVisible());
        EXPECT_EQ(r.selection(), (QStringList{"COM2", "9600"}));
    }
    EXPECT_EQ(r.ports.reads, 4);
}
