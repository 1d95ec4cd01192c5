#pragma once
// The cool-down window: no title bar, the remaining time as the device reports it, a bar of
// the time elapsed, and Cancel. Polls the device every 5000 ms until it reports standby.

#include "upload/CoolDown.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace halvern {

class frmCoolDown : public QDialog {
    Q_OBJECT
public:
    frmCoolDown(DeviceLibrary& library, AppState& state, Reporter& reporter, QWidget* parent = nullptr);

    void update_time(std::int32_t seconds);  // fills txtMinutes and txtSeconds
    QTimer* timer() const { return tmrCoolDown; }

protected:
    // Escape presses Cancel, the window's one button; Enter does nothing.
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void on_tmrCoolDown_timeout();
    void on_cmdCancel_clicked();

private:
    void show_display();

    CoolDownWait wait_;
    QLabel* lblCoolDown;
    QLineEdit* txtMinutes;
    QLineEdit* txtSeconds;
    QProgressBar* pgbStatus;
    QPushButton* cmdCancel;
    QTimer* tmrCoolDown;
};

}  // namespace halvern
