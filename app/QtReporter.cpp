#include "app/QtReporter.h"

#include "common/AppState.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace halvern {

namespace {

// Modal box without an icon; the caption defaults to the application title.
int run_box(QWidget* parent, const QString& text, const QString& caption, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton enter, QMessageBox::StandardButton escape) {
    QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? kAppTitle : caption, text, buttons, parent);
    box.setObjectName(QStringLiteral("msgBox"));
    box.setDefaultButton(enter);
    box.setEscapeButton(escape);
    return box.exec();
}

}  // namespace

QtReporter::QtReporter(QWidget* parent, std::function<void(int, const QString&)> status)
    : parent_(parent), status_(std::move(status)) {}

void QtReporter::message_box(const QString& text, const QString& caption) {
    run_box(parent_, text, caption, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtReporter::question(const QString& text, const QString& caption) {
    // Enter answers Yes; Escape and the close box answer No.
    return run_box(parent_, text, caption, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No) ==
           QMessageBox::Yes;
}

void QtReporter::show_status(int icon, const QString& text) {
    if (status_) status_(icon, text);
}

void QtReporter::yield() { QCoreApplication::processEvents(); }

void QtReporter::pause(int ms) {
    QElapsedTimer clock;  // monotonic
    clock.start();
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(left));
        loop.exec();
        if (timer.isActive()) {
            // The application is ending every event loop: a new one would return at once, so
            // the rest of the wait is slept without one.
            QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, ms - clock.elapsed())));
            return;
        }
    }
}

}  // namespace halvern
