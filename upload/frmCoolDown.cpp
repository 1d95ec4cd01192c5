#include "upload/frmCoolDown.h"

#include "common/CenterForm.h"

#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace halvern {

namespace {
QLabel* label(const char* name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}
QLineEdit* time_box(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    e->setMaximumWidth(56);
    return e;
}
}  // namespace

frmCoolDown::frmCoolDown(DeviceLibrary& library, AppState& state, Reporter& reporter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), wait_(library, state, reporter) {
    setObjectName(QStringLiteral("frmCoolDown"));
    setWindowTitle(QString());
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // No title bar: a raised panel carries the controls.
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(panel);

    lblCoolDown = label("lblCoolDown",
                        QStringLiteral("This projector needs time to cool down before it can start receiving the "
                                       "operating system from the pc."),
                        panel);
    lblCoolDown->setWordWrap(true);
    lblCoolDown->setMinimumHeight(2 * lblCoolDown->fontMetrics().lineSpacing() + 4);
    txtMinutes = time_box("txtMinutes", panel);
    txtSeconds = time_box("txtSeconds", panel);
    pgbStatus = new QProgressBar(panel);
    pgbStatus->setObjectName(QStringLiteral("pgbStatus"));
    pgbStatus->setRange(0, 100);
    pgbStatus->setValue(0);
    pgbStatus->setTextVisible(false);
    pgbStatus->setVisible(false);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), panel);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    // Enter never cancels: the window opens right after the power-off question, and a second
    // Enter meant for that question must not give up the upload.
    cmdCancel->setAutoDefault(false);

    auto* grid = new QGridLayout(panel);
    grid->addWidget(lblCoolDown, 0, 0, 1, 5);
    grid->addWidget(label("Label2", QStringLiteral("Remaining Time:"), panel), 1, 0);
    grid->addWidget(label("Label1", QStringLiteral("Minutes:"), panel), 1, 1);
    grid->addWidget(txtMinutes, 1, 2);
    grid->addWidget(label("Label3", QStringLiteral("Seconds:"), panel), 1, 3);
    grid->addWidget(txtSeconds, 1, 4);
    grid->addWidget(pgbStatus, 2, 0, 1, 5);
    grid->addWidget(cmdCancel, 3, 4);
    // 4440 x 2040 twips at design; taller when the font needs it, so the text is never cut.
    setMinimumWidth(296);
    resize(296, qMax(136, sizeHint().height()));

    tmrCoolDown = new QTimer(this);
    tmrCoolDown->setObjectName(QStringLiteral("tmrCoolDown"));
    tmrCoolDown->setInterval(5000);
    connect(tmrCoolDown, &QTimer::timeout, this, &frmCoolDown::on_tmrCoolDown_timeout);
    connect(cmdCancel, &QPushButton::clicked, this, &frmCoolDown::on_cmdCancel_clicked);
    tmrCoolDown->start();  // running from the moment the window exists

    adjustSize();
    center_form(*this);
    wait_.load();
    show_display();
    tmrCoolDown->start();
}

void frmCoolDown::update_time(std::int32_t seconds) {
    CoolDownDisplay d = wait_.display();
    halvern::update_time(d, seconds);
    txtMinutes->setText(d.minutes);
    txtSeconds->setText(d.seconds);
}

void frmCoolDown::show_display() {
    const CoolDownDisplay& d = wait_.display();
    txtMinutes->setText(d.minutes);
    txtSeconds->setText(d.seconds);
    pgbStatus->setRange(0, d.bar_maximum);
    pgbStatus->setValue(d.bar_value);
    pgbStatus->setVisible(d.bar_visible);
}

void frmCoolDown::on_tmrCoolDown_timeout() {
    switch (wait_.tick()) {
    case CoolDownWait::Tick::Standby:
        tmrCoolDown->stop();
        accept();
        break;
    case CoolDownWait::Tick::Cooling: show_display(); break;
    case CoolDownWait::Tick::Failed: break;  // the next tick tries again
    }
}

void frmCoolDown::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        cmdCancel->click();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void frmCoolDown::on_cmdCancel_clicked() {
    tmrCoolDown->stop();
    wait_.cancel();
    reject();
}

}  // namespace halvern
