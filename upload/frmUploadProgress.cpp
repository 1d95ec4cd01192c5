#include "upload/frmUploadProgress.h"

#include "common/CenterForm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

#ifdef HALVERN_HAVE_XCB
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#endif

namespace halvern {

namespace {
constexpr float kTwipsPerPixel = 15.0f;  // 1440 twips an inch at 96 dots an inch
int px(float twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }
// Asks an X11 window manager for a title bar and a border without any button, and for moving
// as the only thing the person may do with the window. Qt's window flags cannot say "no close
// box" there: without a button hint they leave every function to the window manager.
void title_bar_without_buttons(QWidget& window) {
#ifdef HALVERN_HAVE_XCB
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* connection = x11->connection();
    static const char kName[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
    if (!atom) return;
    enum : std::uint32_t { kFunctions = 1, kDecorations = 2, kMove = 4, kBorder = 2, kTitle = 8 };
    const std::uint32_t hints[5] = {kFunctions | kDecorations, kMove, kBorder | kTitle, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()), atom->atom,
                        atom->atom, 32, 5, hints);
    std::free(atom);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

}  // namespace

std::array<float, 3> progress_mark_lefts(float bar_width_twips) {
    const float quarter = bar_width_twips / 4.0f;
    const float half = bar_width_twips / 2.0f;
    return {quarter, half, half + quarter};
}

frmUploadProgress::frmUploadProgress(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmUploadProgress"));
    setWindowTitle(QStringLiteral("Upload Operating System Status"));
    setFixedSize(px(4905), px(600) + 8);

    constexpr float kBarWidth = 4695.0f;
    pgbStatus = new QProgressBar(this);
    pgbStatus->setObjectName(QStringLiteral("pgbStatus"));
    pgbStatus->setTextVisible(false);
    pgbStatus->setGeometry(px(100), px(300), px(kBarWidth), 18);
    pgbStatus->setRange(0, 100);

    const char* texts[5] = {"0%", "25%", "50%", "75%", "100%"};
    const float widths[5] = {210, 420, 300, 420, 390};
    for (int i = 0; i < 5; ++i) {
        Label1[i] = new QLabel(QLatin1String(texts[i]), this);
        Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
    }
    // Load: the three middle marks follow the bar's width.
    middle_mark_lefts_twips_ = progress_mark_lefts(kBarWidth);
    const float lefts[5] = {105, middle_mark_lefts_twips_[0], middle_mark_lefts_twips_[1], middle_mark_lefts_twips_[2],
                            4520};
    for (int i = 0; i < 5; ++i) {
        // At least as wide as the text in the font in use; the last mark ends at the bar's end.
        const int width = qMax(px(widths[i]) + 4, Label1[i]->fontMetrics().horizontalAdvance(Label1[i]->text()) + 4);
        const int left = i == 4 ? qMin(px(lefts[i]), px(100 + kBarWidth) - width) : px(lefts[i]);
        if (i == 4) Label1[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Label1[i]->setGeometry(left, px(75), width, 14);
    }
    center_form(*this);
    set_value(0.0f);
    title_bar_without_buttons(*this);
    if (owner) {
        owner_window_ = owner->window();
        owner_window_->installEventFilter(this);
    }
}

void frmUploadProgress::set_maximum(float maximum) {
    maximum_ = maximum;
    pgbStatus->setMaximum(std::max(0, static_cast<int>(maximum)));
    set_value(value_);
}

void frmUploadProgress::set_value(float value) {
    value_ = value;
    pgbStatus->setValue(std::clamp(static_cast<int>(value), pgbStatus->minimum(), pgbStatus->maximum()));
}

void frmUploadProgress::closeEvent(QCloseEvent* event) { event->ignore(); }

void frmUploadProgress::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMinimized()) restore_soon();
    QWidget::changeEvent(event);
}

bool frmUploadProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_window_ && event->type() == QEvent::WindowStateChange && owner_window_->isMinimized())
        restore_soon();
    return QWidget::eventFilter(watched, event);
}

void frmUploadProgress::restore_soon() {
    // After the window system has finished the minimising that is under way; the window
    // manager may iconify the second window only after the first.
    if (restore_queued_) return;
    restore_queued_ = true;
    QTimer::singleShot(0, this, [this] {
        restore_queued_ = false;
        for (QWidget* window : {owner_window_.data(), static_cast<QWidget*>(this)}) {
            if (!window || !window->isMinimized()) continue;
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
            window->show();
        }
        raise();
    });
}

QtUploadView::~QtUploadView() { close_progress(); }

void QtUploadView::set_busy(bool busy) {
    if (busy)
        main_window_.setCursor(Qt::WaitCursor);
    else
        main_window_.unsetCursor();
}

frmUploadProgress& QtUploadView::load() {
    if (!progress_) progress_ = new frmUploadProgress(&main_window_);
    return *progress_;
}

void QtUploadView::set_progress_maximum(float maximum) { load().set_maximum(maximum); }
void QtUploadView::show_progress() { load().show(); }
float QtUploadView::progress_maximum() const { return progress_ ? progress_->maximum() : 100.0f; }
float QtUploadView::progress_value() const { return progress_ ? progress_->value() : 0.0f; }
void QtUploadView::set_progress_value(float value) { load().set_value(value); }

void QtUploadView::close_progress() {
    if (progress_) {
        progress_->hide();
        delete progress_.data();
        progress_.clear();
    }
}

}  // namespace halvern
