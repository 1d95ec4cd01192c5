// Start-up without a window: init_vars against empty, partial and malformed settings files,
// and where the help file is found.
#include "app/InitVars.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;

TEST(InitVars, LoadsAndWritesDefaults) {
    const QString program_dir = QStringLiteral("/opt/halvern/bin");
    // Missing, empty and unreadable values fall back to the defaults; values that exist but are
    // odd are used unchanged: they fail later where they are used.
    const struct { const char* name; QByteArray ini; QString dir, port; std::int32_t baud; } cases[] = {
        {"empty store", "", program_dir, "COM1", 38400},
        {"complete store", "[Startup]\nWorking Directory=/srv/fw\nPort=COM2\nBaud Rate=19200\n", "/srv/fw", "COM2", 19200},
        {"baud 0", "[Startup]\nBaud%20Rate=0\n", program_dir, "COM1", 38400},
        {"baud too large", "[Startup]\nBaud%20Rate=99999999999\n", program_dir, "COM1", 38400},
        {"odd values kept", "[Startup]\nWorking%20Directory=/no/such/dir\nPort=com3\nBaud%20Rate=1234\n",
         "/no/such/dir", "com3", 1234},
        {"empty values", "[Startup]\nWorking%20Directory=\nPort=\nBaud%20Rate=\n", program_dir, "COM1", 38400},
        {"garbage lines", "this is not ini\n[[[\n=\n[Startup]\nPort=COM4\n", program_dir, "COM4", 38400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir tmp;
        const QString path = tmp.filePath("settings.ini");
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.ini);
        }
        AppState state;
        {
            SettingsStore settings(path);
            init_vars(state, settings, program_dir);
        }
        EXPECT_EQ(state.working_directory, c.dir);
        EXPECT_EQ(state.port_name, c.port);
        EXPECT_EQ(state.baud_rate, c.baud);
        EXPECT_EQ(state.serial_handle, 0);
        // Read back by a fresh store: what is in use is on disk.
        SettingsStore reread(path);
        EXPECT_EQ(reread.startup("Working Directory"), c.dir);
        EXPECT_EQ(reread.startup("Port"), c.port);
        EXPECT_EQ(reread.startup("Baud Rate"), QString::number(c.baud));
        EXPECT_FALSE(reread.contains("Startup", "hndCom"));  // start-up opens no port
    }
}

TEST(InitVars, HelpFileHasOneSeparator) {
    const std::pair<QString, QString> cases[] = {
        {"/opt/halvern/bin", "/opt/halvern/bin/upload.hlp"},
        {"/opt/halvern/bin/", "/opt/halvern/bin/upload.hlp"},
        {"/", "/upload.hlp"},
        {"C:\\", "C:\\upload.hlp"},
    };
    for (const auto& [dir, expected] : cases) EXPECT_EQ(help_file_path(dir), expected) << dir.toStdString();
}

TEST(InitVars, HelpFileBesideTheProgramFirstThenInTheInstalledTree) {
    QTemporaryDir tree;  // PREFIX with bin/ and share/halvern/, as installed
    const QString bin = tree.filePath("bin"), shared = tree.filePath("share/halvern/upload.hlp");
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(tree.filePath("share/halvern")));
    const auto touch = [](const QString& path) { QFile f(path); return f.open(QIODevice::WriteOnly); };
    EXPECT_EQ(help_file_path(bin), bin + "/upload.hlp");  // neither: the help window reports this one
    ASSERT_TRUE(touch(shared));
    EXPECT_EQ(help_file_path(bin), shared);
    EXPECT_EQ(help_file_path(bin + "/"), shared);
    ASSERT_TRUE(touch(bin + "/upload.hlp"));  // a build folder: the file beside the program wins
    EXPECT_EQ(help_file_path(bin), bin + "/upload.hlp");
}
