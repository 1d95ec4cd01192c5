#include "dialogs/HelpWindow.h"

#include "common/AppState.h"
#include "common/CenterForm.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace halvern {

QString help_anchor(int topic) {
    switch (topic) {
    case kHelpTopicSearch: return QStringLiteral("topic9");
    case kHelpTopicUpload: return QStringLiteral("topic11");
    case kHelpTopicComPort: return QStringLiteral("comport");
    case kHelpTopicWorkingDirectory: return QStringLiteral("workdir");
    default: return QStringLiteral("contents");
    }
}

int help_topic_of(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        bool ok = false;
        const int topic = w->property("helpTopic").toInt(&ok);
        if (ok && topic > 0) return topic;
    }
    return 0;
}

QString help_file_problem(const QString& help_file) {
    if (help_file.isEmpty())
        return QStringLiteral("No help file has been set for this program, so there is no help to show.");
    const QFileInfo info(help_file);
    if (!info.exists())
        return QStringLiteral("The help file ") + help_file +
               QStringLiteral(" could not be found. Make sure that ") + info.fileName() +
               QStringLiteral(" lies in the program's directory.");
    if (!info.isFile())
        return QStringLiteral("The help file ") + help_file + QStringLiteral(" could not be read: it is not a file.");
    QFile file(help_file);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The help file ") + help_file + QStringLiteral(" could not be read: ") +
               file.errorString() + QLatin1Char('.');
    return QString();
}

HelpWindow::HelpWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(kAppTitle + QStringLiteral(" Help"));
    setAttribute(Qt::WA_DeleteOnClose);

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("txtHelp"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(680, 560);

    // Escape closes it, as it closes every other window of the program.
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
}

void HelpWindow::show_help(const QString& help_file, int topic) {
    const QString problem = help_file_problem(help_file);
    if (!problem.isEmpty()) {
        // Forget the page shown before, so that a later call loads the file afresh.
        browser_->setSource(QUrl());
        browser_->clearHistory();
        browser_->setPlainText(problem);
    } else {
        QUrl url = QUrl::fromLocalFile(QFileInfo(help_file).absoluteFilePath());
        url.setFragment(help_anchor(topic));
        // The same file at another anchor only scrolls; a page that replaced it is reloaded.
        if (browser_->source().adjusted(QUrl::RemoveFragment) != url.adjusted(QUrl::RemoveFragment))
            browser_->setSource(QUrl());
        browser_->setSource(url, QTextDocument::HtmlResource);
        browser_->scrollToAnchor(url.fragment());
    }
    show();
    raise();
    activateWindow();
}

void HelpWindow::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        center_form(*this);
    }
    QWidget::showEvent(event);
}

HelpWindow& help_window_for(QWidget* owner) {
    static QPointer<HelpWindow> ownerless;
    if (owner) {
        for (HelpWindow* w : owner->findChildren<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly))
            if (w->isVisible()) return *w;
        return *new HelpWindow(owner);
    }
    if (!ownerless || !ownerless->isVisible()) ownerless = new HelpWindow(nullptr);
    return *ownerless;
}

void show_help(QWidget* owner, const QString& help_file, int topic) {
    help_window_for(owner).show_help(help_file, topic);
}

HelpKeyFilter::HelpKeyFilter(QWidget* owner, std::function<QString()> help_file, QObject* parent)
    : QObject(parent), owner_(owner), help_file_(std::move(help_file)) {}

bool HelpKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    // Installed on the application the filter also sees the key on its way through the
    // window system's window; it acts only once the key reaches a widget.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    // Installed on a window, the key arrives there after the focused control passed it on.
    QWidget* start = widget;
    if (QWidget* focus = QApplication::focusWidget(); focus && widget->isAncestorOf(focus)) start = focus;
    // While a modal dialog is up every other window is blocked, so the help then belongs to
    // the dialog, where it can be read and scrolled.
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : owner_.data();
    show_help(owner, help_file_ ? help_file_() : QString(), help_topic_of(start));
    return true;
}

}  // namespace halvern
