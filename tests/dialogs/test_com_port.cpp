// The serial port dialog, headless: its real option buttons and push buttons are clicked.
#include "dialogs/frmComPort.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::ScriptedDeviceLibrary;

namespace {

struct Rig {
    QTemporaryDir tmp;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    SerialConnection connection{library, state, settings, reporter};
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
        dialog = std::make_unique<frmComPort>(state, settings, connection);
        dialog->show();
        return *dialog;
    }
    template <class W> W* control(const QString& name) { return dialog->findChild<W*>(name); }
    void click(const QString& name) {
        QAbstractButton* b = control<QAbstractButton>(name);
        ASSERT_NE(b, nullptr) << name.toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // The captions of the selected port and baud rate options.
    QStringList selection() {
        QStringList out;
        for (const QString& group : {QStringLiteral("optCom"), QStringLiteral("optBaudRate")})
            for (int i = 0; i < 4; ++i)
                if (auto* o = control<QRadioButton>(group + QString::number(i)); o && o->isChecked()) out << o->text();
        return out;
    }
    QStringList stored() const { return {settings.startup("Port"), settings.startup("Baud Rate")}; }
};

}  // namespace

TEST(ComPortDialog, ControlsAndCaptions) {
    Rig r("COM1", 9600);
    frmComPort& d = r.open();
    EXPECT_EQ(d.windowTitle(), "Select Serial Port");
    const std::pair<const char*, const char*> captions[] = {
        {"optCom0", "COM1"},      {"optCom1", "COM2"},      {"optCom2", "COM3"},   {"optCom3", "COM4"},
        {"optBaudRate0", "38400"}, {"optBaudRate1", "19200"}, {"optBaudRate2", "9600"},
        {"cmdSelect", "&OK"},     {"cmdCancel", "&Cancel"}, {"cmdResetPort", "&Reset Port"},
    };
    for (const auto& [name, caption] : captions) {
        auto* b = r.control<QAbstractButton>(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), caption) << name;
        EXPECT_TRUE(b->isVisible()) << name;
    }
    // The two frames are separate option groups.
    r.click("optCom3");
    r.click("optBaudRate0");
    EXPECT_EQ(r.selection(), (QStringList{"COM4", "38400"}));
}

TEST(ComPortDialog, OpensWithTheCurrentSelectionAndOkStoresIt) {
    struct Case {
        const char* name;
        QString port;
        std::int32_t baud;
        QStringList shown;   // selected captions at opening; OK untouched stores these
    };
    const Case cases[] = {
        {"COM3 at 19200", "COM3", 19200, {"COM3", "19200"}},
        {"COM4 at 38400", "COM4", 38400, {"COM4", "38400"}},
        {"lower-case port", "com3", 19200, {"COM1", "19200"}},
        {"unknown port", "/dev/ttyUSB0", 9600, {"COM1", "9600"}},
        {"unknown baud rate", "COM2", 57600, {"COM2", "9600"}},
        {"baud rate 0", "COM2", 0, {"COM2", "9600"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(c.port, c.baud);  // nothing stored yet: OK writes even an untouched selection
        r.open();
        EXPECT_EQ(r.selection(), c.shown);
        r.click("cmdSelect");
        EXPECT_EQ(r.dialog->result(), QDialog::Accepted);
        EXPECT_FALSE(r.dialog->isVisible());
        EXPECT_EQ(r.state.port_name, c.shown[0]);
        EXPECT_EQ(r.state.baud_rate, c.shown[1].toInt());
        EXPECT_EQ(r.stored(), c.shown);
        EXPECT_TRUE(r.library.calls.empty());  // OK neither opens nor closes the port
    }
}

TEST(ComPortDialog, OkStoresAChangedSelection) {
    Rig r("COM1", 9600);
    r.open();
    r.click("optCom1");
    r.click("optBaudRate0");
    r.click("cmdSelect");
    EXPECT_EQ(r.state.port_name, "COM2");
    EXPECT_EQ(r.state.baud_rate, 38400);
    EXPECT_EQ(r.stored(), (QStringList{"COM2", "38400"}));
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
