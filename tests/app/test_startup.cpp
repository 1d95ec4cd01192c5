// Start-up without a window: init_vars against empty, partial and malformed settings files,
// and the help file's path.
#include "app/InitVars.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;

namespace {

const QString kProgramDir = QStringLiteral("/opt/halvern/bin");

// Writes raw INI text, as a person editing the file by hand might.
QString write_ini(const QTemporaryDir& tmp, const QByteArray& text) {
    const QString path = tmp.filePath("settings.ini");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
}

}  // namespace

TEST(InitVars, LoadsAndWritesDefaults) {
    struct Case {
        const char* name;
        QByteArray ini;
        QString dir, port;
        std::int32_t baud;
        QString stored_dir, stored_port, stored_baud;
    };
    const Case cases[] = {
        {"empty store", "", kProgramDir, "COM1", 38400, kProgramDir, "COM1", "38400"},
        {"partial store", "[Startup]\nPort=COM3\n", kProgramDir, "COM3", 38400, kProgramDir, "COM3", "38400"},
        {"complete store", "[Startup]\nWorking Directory=/srv/fw\nPort=COM2\nBaud Rate=19200\n", "/srv/fw", "COM2",
         19200, "/srv/fw", "COM2", "19200"},
        {"baud 0", "[Startup]\nBaud%20Rate=0\n", kProgramDir, "COM1", 38400, kProgramDir, "COM1", "38400"},
        {"baud 9600", "[Startup]\nBaud%20Rate=9600\n", kProgramDir, "COM1", 9600, kProgramDir, "COM1", "9600"},
        {"baud abc", "[Startup]\nBaud%20Rate=abc\n", kProgramDir, "COM1", 38400, kProgramDir, "COM1", "38400"},
        {"baud 1.5", "[Startup]\nBaud%20Rate=1.5\n", kProgramDir, "COM1", 38400, kProgramDir, "COM1", "38400"},
        {"baud too large", "[Startup]\nBaud%20Rate=99999999999\n", kProgramDir, "COM1", 38400, kProgramDir, "COM1",
         "38400"},
        // Values that exist but are odd are used unchanged: they fail later where they are used.
        {"odd values kept", "[Startup]\nWorking%20Directory=/no/such/dir\nPort=com3\nBaud%20Rate=1234\n",
         "/no/such/dir", "com3", 1234, "/no/such/dir", "com3", "1234"},
        {"empty values", "[Startup]\nWorking%20Directory=\nPort=\nBaud%20Rate=\n", kProgramDir, "COM1", 38400,
         kProgramDir, "COM1", "38400"},
        {"garbage lines", "this is not ini\n[[[\n=\n[Startup]\nPort=COM4\n", kProgramDir, "COM4", 38400, kProgramDir,
         "COM4", "38400"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp;
        const QString path = write_ini(tmp, c.ini);
        AppState state;
        {
            SettingsStore settings(path);
            init_vars(state, settings, kProgramDir);
        }
        EXPECT_EQ(state.working_directory, c.dir);
        EXPECT_EQ(state.port_name, c.port);
        EXPECT_EQ(state.baud_rate, c.baud);
        // Read back from the file by a fresh store: the defaults are on disk.
        SettingsStore reread(path);
        EXPECT_EQ(reread.startup("Working Directory"), c.stored_dir);
        EXPECT_EQ(reread.startup("Port"), c.stored_port);
        EXPECT_EQ(reread.startup("Baud Rate"), c.stored_baud);
        EXPECT_FALSE(reread.contains("Startup", "hndCom"));  // start-up opens no port
        EXPECT_EQ(state.serial_handle, 0);
    }
}

TEST(InitVars, HelpFileHasOneSeparator) {
    const std::pair<QString, QString> cases[] = {
        {"/opt/halvern/bin", "/opt/halvern/bin/upload.hlp"},
        {"/", "/upload.hlp"},
        {"C:/", "C:/upload.hlp"},
        {"C:\\", "C:\\upload.hlp"},
    };
    for (const auto& [dir, expected] : cases) EXPECT_EQ(help_file_path(dir), expected) << dir.toStdString();
}
