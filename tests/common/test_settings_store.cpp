// The settings file as a technician reads and edits it.
#include "common/SettingsStore.h"

#include "tests/support/RecordingReporter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

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

// Keys are written as named, blanks included; the file and its directory are made on the first
// write. Setting a value keeps comments, order and unknown keys, and rewrites an older %XX
// spelling or a repeated key as the one line of the key as named.
TEST(SettingsStore, SettingAValueWritesItAsNamedAndKeepsTheRest) {
    struct Set { const char* section; const char* key; const char* value; };
    const struct { const char* what; QByteArray before; std::vector<Set> sets; QByteArray after; } cases[] = {
        {"no file yet", {},
         {{"Startup", "Working Directory", "/home/tech/My Releases"}, {"Startup", "Port", "COM1"},
          {"Startup", "Baud Rate", "38400"}, {"Ports", "COM1", "/dev/ttyUSB0"}},
         "[Startup]\nWorking Directory=/home/tech/My Releases\nPort=COM1\nBaud Rate=38400\n\n[Ports]\nCOM1=/dev/ttyUSB0\n"},
        {"a file of older spellings and notes",
         "; my notes\n[Startup]\nWorking%20Directory=/old\nBaud%20Rate=9600\nBaud Rate=19200\nExtra=kept\n\n"
         "[Ports]\nCOM1=/dev/ttyUSB0\n",
         {{"Startup", "Baud Rate", "38400"}, {"Startup", "Working Directory", "/new"}, {"Startup", "hndCom", "7"},
          {"Ports", "COM2", "/dev/ttyUSB1"}},
         "; my notes\n[Startup]\nWorking Directory=/new\nBaud Rate=38400\nExtra=kept\nhndCom=7\n\n"
         "[Ports]\nCOM1=/dev/ttyUSB0\nCOM2=/dev/ttyUSB1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath("sub/Halvern!.ini");
        if (!c.before.isNull()) {
            QDir().mkpath(dir.filePath("sub"));
            write(path, c.before);
        }
        SettingsStore store(path);
        for (const Set& s : c.sets) store.set(s.section, s.key, s.value);
        EXPECT_EQ(read(path), c.after);
    }
}

// Every read sees the file as it is now, edits made while the program runs included.
TEST(SettingsStore, ReadsAFileAsAPersonEditsIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Halvern!.ini");
    SettingsStore store(path);
    EXPECT_EQ(store.startup("Port", "none"), "none");  // no file yet
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

// Whatever a value holds comes back as it was set, through a new store on the same file.
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
    EXPECT_EQ(read(path).count('\n'), 2);  // still one line per key
}
