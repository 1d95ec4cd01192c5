#include "app/QtReporter.h"

#include "common/AppState.h"

#include <QCoreApplication>
#include <QMessageBox>

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

}  // namespace halvern
