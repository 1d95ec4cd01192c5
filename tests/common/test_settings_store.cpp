// The settings file as a technician reads and edits it.
#include "common/SettingsStore.h"

#include "tests/support/RecordingReporter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;

namespace {

void write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(SettingsStore, KeysAreWrittenAsNamed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/Halvern!.ini");  // the directory is made on the first write
    SettingsStore store(path);
    store.set_startup("Working Directory", "/home/tech/My Releases");
    store.set_startup("Port", "COM1");
    store.set_startup("Baud Rate", "38400");
    store.set("Ports", "COM1", "/dev/ttyUSB0");
    EXPECT_EQ(read(path),
              "[Startup]\n"
              "Working Directory=/home/tech/My Releases\n"
              "Port=COM1\n"
              "Baud Rate=38400\n"
              "\n"
              "[Ports]\n"
              "COM1=/dev/ttyUSB0\n");
}

TEST(SettingsStore, ReadsAFileAsAPersonEditsIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Halvern!.ini");
    write(path,
          "; written by hand\r\n"
          "[startup]\r\n"
          "  Baud Rate = 19200  \r\n"
          "Working%20Directory=/old/escaped\r\n"
          "Port=\"COM2\"\r\n"
          "hndCom=12\r\n"
          "Baud Rate=9600\r\n"               // a later line of the same key wins
          "Note=C:\\releases\\new\r\n"       // backslashes are taken as written
          "Padded=\" two blanks  \"\r\n"
          "Empty=\r\n"
          "# a key without a value: no key\r\n"
          "broken line\r\n"
          "[Ports]\r\n"
          "COM1 = /dev/ttyUSB0\r\n");
    SettingsStore store(path);
    struct Case { const char* section; const char* key; QString value; } cases[] = {
        {"Startup", "Baud Rate", "9600"},
        {"Startup", "Working Directory", "/old/escaped"},
        {"Startup", "Port", "COM2"},
        {"Startup", "hndCom", "12"},
        {"Startup", "Note", "C:\\releases\\new"},
        {"Startup", "Padded", " two blanks  "},
        {"Startup", "Empty", ""},
        {"Ports", "COM1", "/dev/ttyUSB0"},
        {"Ports", "COM2", "<none>"},
        {"Startup", "broken line", "<none>"},
        {"Startup", "COM1", "<none>"},  // keys belong to their section
    };
    for (const Case& c : cases)
        EXPECT_EQ(store.get(c.section, c.key, "<none>"), c.value) << c.section << "/" << c.key;
    EXPECT_TRUE(store.contains("Startup", "Empty"));
    EXPECT_FALSE(store.contains("Ports", "COM2"));
}

TEST(SettingsStore, SettingAValueKeepsTheRestOfTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Halvern!.ini");
    write(path,
          "; my notes\n"
          "[Startup]\n"
          "Working%20Directory=/old\n"
          "Baud%20Rate=9600\n"
          "Baud Rate=19200\n"
          "Extra=kept\n"
          "\n"
          "[Ports]\n"
          "COM1=/dev/ttyUSB0\n");
    SettingsStore store(path);
    store.set_startup("Baud Rate", "38400");
    store.set_startup("Working Directory", "/new");
    store.set_startup("hndCom", "7");
    store.set("Ports", "COM2", "/dev/ttyUSB1");
    EXPECT_EQ(read(path),
              "; my notes\n"
              "[Startup]\n"
              "Working Directory=/new\n"
              "Baud Rate=38400\n"
              "Extra=kept\n"
              "hndCom=7\n"
              "\n"
              "[Ports]\n"
              "COM1=/dev/ttyUSB0\n"
              "COM2=/dev/ttyUSB1\n");
}

TEST(SettingsStore, ValuesSurviveTheRoundTrip) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Halvern!.ini");
    const QString values[] = {
        "plain", "", " leading", "trailing ", "\"quoted\"", "a \"b\" c", "back\\slash\\", "semi;colon, comma=equals",
        "two\nlines", "tab\there", "\\\\server\\share", QString::fromUtf8("caf\xc3\xa9 / \xe6\x97\xa5"),
    };
    for (const QString& v : values) {
        SettingsStore(path).set_startup("Working Directory", v);
        EXPECT_EQ(SettingsStore(path).startup("Working Directory"), v) << v.toStdString();
    }
    // Still one line per key.
    EXPECT_EQ(read(path).count('\n'), 2);
}

TEST(SettingsStore, EditsMadeWhileTheProgramRunsAreSeen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Halvern!.ini");
    SettingsStore store(path);
    EXPECT_EQ(store.startup("Port", "none"), "none");  // no file yet
    store.set_startup("Port", "COM1");
    write(path, "[Startup]\nPort=COM3\n");
    EXPECT_EQ(store.startup("Port"), "COM3");
}
