#pragma once
// The progress window of an upload: one bar for the whole release with the marks 0%, 25%,
// 50%, 75% and 100% above it. Modeless and owned by the main window, so that it stays above
// it; a title bar without buttons, since nothing may end it but the upload. The upload sets
// its range, advances it block by block and closes it when the transfer has ended.

#include "common/UploadView.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QLabel;
class QProgressBar;

namespace halvern {

// Left edges, in twips from the client area's left edge, of the 25%, 50% and 75% marks for a
// bar of the given width: width / 4, width / 2, and the sum of those two.
std::array<float, 3> progress_mark_lefts(float bar_width_twips);

class frmUploadProgress : public QWidget {
    Q_OBJECT
public:
    explicit frmUploadProgress(QWidget* owner = nullptr);

    QProgressBar* bar() const { return pgbStatus; }
    // Left edges of the 25%, 50% and 75% marks as placed at load, in twips.
    const std::array<float, 3>& middle_mark_lefts_twips() const { return middle_mark_lefts_twips_; }

    // The bar's range and value are single-precision numbers; QProgressBar counts whole steps.
    float maximum() const { return maximum_; }
    float value() const { return value_; }
    void set_maximum(float maximum);
    void set_value(float value);

protected:
    // Alt+F4 and the like: the upload closes it, nothing else.
    void closeEvent(QCloseEvent* event) override;
    // Minimised, it would take the main window with it (the window manager iconifies an
    // owner with its transient window) and, with no taskbar to bring them back, the program
    // would look dead mid-upload: this window and its owner stand again at once, whichever
    // of the two was minimised.
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restore_soon();

    QProgressBar* pgbStatus;
    QPointer<QWidget> owner_window_;
    bool restore_queued_ = false;
    std::array<QLabel*, 5> Label1{};
    std::array<float, 3> middle_mark_lefts_twips_{};
    float maximum_ = 100.0f;
    float value_ = 0.0f;
};

// The upload's view in the real program: the hourglass over the main window and the
// progress window, owned by it, created on first use and destroyed when closed.
class QtUploadView : public UploadView {
public:
    explicit QtUploadView(QWidget& main_window) : main_window_(main_window) {}
    ~QtUploadView() override;

    void set_busy(bool busy) override;
    void set_progress_maximum(float maximum) override;
    void show_progress() override;
    float progress_maximum() const override;
    float progress_value() const override;
    void set_progress_value(float value) override;
    void close_progress() override;

    frmUploadProgress* window() const { return progress_; }

private:
    frmUploadProgress& load();

    QWidget& main_window_;
    QPointer<frmUploadProgress> progress_;
};

}  // namespace halvern
