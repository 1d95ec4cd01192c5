// The desktop tool's main window over the real serial-port library, driven as a technician
// drives it: emergency mode on, the release clicked in the list, Start Upload clicked. The
// questions are answered Yes; pauses and yields run the real event loop. Prints one line:
//   peak_rss_kB rss_before_kB cpu_s wall_s result
// usage: desktop-upload PORT RELEASES_DIR RELEASE_FILE   (under a display, e.g. xvfb-run)

#include "app/QtReporter.h"
#include "app/frmUpload.h"
#include "device/SerialDeviceLibrary.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/resource.h>

using namespace halvern;

namespace {

class YesReporter : public QtReporter {
public:
    using QtReporter::QtReporter;
    QString last_status;
    void message_box(const QString& text, const QString&) override {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
    bool question(const QString&, const QString&) override { return true; }
    void show_status(int icon, const QString& text) override { last_status = QString::number(icon) + ' ' + text; }
};

double cpu_seconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: desktop-upload PORT RELEASES_DIR RELEASE_FILE\n");
        return 2;
    }
    QTemporaryDir tmp;
    SettingsStore settings(tmp.filePath(QStringLiteral("settings.ini")));
    settings.set_startup(QStringLiteral("Working Directory"), QString::fromLocal8Bit(argv[2]));
    settings.set_startup(QStringLiteral("Port"), QStringLiteral("COM1"));
    settings.set_startup(QStringLiteral("Baud Rate"), QStringLiteral("38400"));
    settings.set(QStringLiteral("Ports"), QStringLiteral("COM1"), QString::fromLocal8Bit(argv[1]));
    AppState state;
    SerialDeviceLibrary library(settings);
    YesReporter reporter;
    frmUploadOptions options;
    options.program_dir = tmp.path();
    options.reporter = &reporter;
    options.end_program = [] {};
    frmUpload window(state, settings, library, options);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::fprintf(stderr, "desktop-upload: the window was not shown\n");

    const frmUpload::Controls& ui = window.ui();
    ui.mnuEmergencyMode->trigger();
    const QStringList& files = window.catalogue().version_files;
    int line = -1;
    for (int i = 0; i < files.size(); ++i)
        if (files[i].endsWith(QString::fromLocal8Bit(argv[3]))) line = i;
    if (line < 0) {
        std::fprintf(stderr, "desktop-upload: no release %s\n", argv[3]);
        return 1;
    }
    QListWidget* list = ui.lstVersions;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(line)).center());

    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer clock;
    clock.start();
    ui.cmdUpload->click();
    const double wall = clock.elapsed() / 1000.0;
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
    std::printf("%ld %ld %.3f %.3f %s\n", after.ru_maxrss, before.ru_maxrss, cpu_seconds(after) - cpu_seconds(before),
                wall, qPrintable(reporter.last_status));
    return reporter.last_status.startsWith(QLatin1Char('1')) ? 0 : 1;
}
