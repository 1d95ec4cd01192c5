#include "app/frmUpload.h"

#include "common/CenterForm.h"
#include "app/InitVars.h"
#include "app/Pictures.h"
#include "app/QtReporter.h"
#include "app/StatusPanel.h"
#include "app/TabStopDelegate.h"
#include "dialogs/HelpWindow.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmComPort.h"
#include "dialogs/frmWorkingDirectory.h"
#include "upload/StatusQuery.h"
#include "upload/UploadSession.h"
#include "upload/frmCoolDown.h"
#include "upload/frmUploadProgress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStyle>
#include <QShortcutEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

namespace halvern {

namespace {

constexpr int kListTabStopDialogUnits = 128;

// The longest messages of the status line; the window starts wide enough for each to stand
// whole.
const QStringList kLongestStatusTexts{
    QStringLiteral("There was an error uploading the operating system to the device."),
    QStringLiteral("Unable to find any devices connect to this computer."),
    QStringLiteral("The operating system has been uploaded successfully!"),
};

// Why the port did not open, as the library says, and for a device of a group the user is
// not in, how to join it.
QString port_open_cause(const QString& failure) {
    static const QRegularExpression group(QStringLiteral("permission denied \\(the device belongs to group (\\S+)\\)"));
    const QRegularExpressionMatch match = group.match(failure);
    if (!match.hasMatch()) return failure;
    return failure + QStringLiteral("\nTo use the port, join the group: sudo adduser \"$USER\" %1, then log in again.")
                         .arg(match.captured(1));
}

// The release list: the keyboard focus shows as a dotted ring inside its edge, as on the
// buttons, whether or not a line is current.
class ReleaseListBox : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void paintEvent(QPaintEvent* event) override {
        QListWidget::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(viewport());
        painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(viewport()->rect().adjusted(1, 1, -2, -2));
    }
    void focusInEvent(QFocusEvent* event) override {
        QListWidget::focusInEvent(event);
        viewport()->update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QListWidget::focusOutEvent(event);
        viewport()->update();
    }
};

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    return named(new QLabel(text, parent), name);
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, bool enabled) {
    // Enter presses the focused button, as Space does.
    auto* b = named(new QPushButton(caption, parent), name);
    b->setEnabled(enabled);
    b->setAutoDefault(true);
    return b;
}

QLineEdit* device_box(QWidget* parent, const char* name) {
    // Read-only: typed characters, Backspace, Delete, paste and drops all leave the text
    // alone; the system writes it with setText.
    // They take the focus only from the mouse (to copy the text): the keyboard starts on
    // the buttons, where Enter works.
    auto* box = named(new QLineEdit(parent), name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

QAction* item(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

// The two column headings of the release list, each over the column it names: the first
// where the lines' text begins, "Version" at the tab stop. The first heading ends where the
// second column begins.
class ColumnHeadings : public QWidget {
public:
    ColumnHeadings(QListWidget& list, QLabel& first, QLabel& second, QWidget* parent)
        : QWidget(parent), list_(list), first_(first), second_(second) {
        setObjectName(QStringLiteral("lstVersionsHeadings"));
        first_.setParent(this);
        second_.setParent(this);
        setFixedHeight(first_.sizeHint().height());
        list_.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show ||
            event->type() == QEvent::FontChange)
            place();
        return false;
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }

private:
    void place() {
        const auto* delegate = qobject_cast<const TabStopDelegate*>(list_.itemDelegate());
        const int offset = list_.mapTo(window(), QPoint()).x() - mapTo(window(), QPoint()).x();
        const int column1 = offset + (delegate ? delegate->text_left(list_) : 0);
        const int column2 = column1 + (delegate ? qRound(delegate->tab_stop()) : width() / 2);
        const int h = height();
        // The first heading shows its whole words that fit before the second column, so no
        // word stands cut in half beside "Version".
        const int room = qMax(0, column2 - column1 - 4);
        const QString text = first_.text();
        int shown = 0;
        for (qsizetype end = 0; end <= text.size(); ++end) {
            const bool word_end = end == text.size() || (text[end] == QLatin1Char(' ') && end > 0 &&
                                                         text[end - 1] != QLatin1Char(' '));
            if (!word_end) continue;
            const int advance = first_.fontMetrics().horizontalAdvance(text.left(end));
            if (advance > room) break;
            shown = advance;
        }
        first_.setGeometry(column1, 0, qMin(room, shown + 1), h);
        second_.setGeometry(column2, 0, qMax(0, width() - column2), h);
    }

    QListWidget& list_;
    QLabel& first_;
    QLabel& second_;
};

}  // namespace

// lstVersions as the catalogue fills it.
class frmUpload::ListBox : public ReleaseListView {
public:
    explicit ListBox(QListWidget& list) : list_(list) {}
    void clear_lines() override { list_.clear(); }
    void add_line(const QString& line) override { list_.addItem(line); }

private:
    QListWidget& list_;
};

// What "&Find Device" changes on the window.
class frmUpload::SearchView : public DeviceSearchView {
public:
    explicit SearchView(frmUpload& window) : w_(window) {}
    void set_busy(bool busy) override { busy ? w_.setCursor(Qt::WaitCursor) : w_.unsetCursor(); }
    void clear_identity() override {
        w_.ui_.txtProjector->clear();
        w_.ui_.txtVersion->clear();
        w_.ui_.cmdQueryStatus->setEnabled(false);
    }
    void show_identity(const QString& model, const QString& version) override {
        w_.ui_.txtVersion->setText(version);
        w_.ui_.txtProjector->setText(model);
        w_.ui_.cmdQueryStatus->setEnabled(true);
    }
    void list_versions() override { w_.list_versions(); }

private:
    frmUpload& w_;
};

frmUpload::frmUpload(AppState& state, SettingsStore& settings, DeviceLibrary& library, frmUploadOptions options,
                     QWidget* parent)
    : QMainWindow(parent), state_(state), settings_(settings), library_(library), options_(std::move(options)) {
    if (options_.reporter) {
        reporter_ = options_.reporter;
    } else {
        own_reporter_ = std::make_unique<QtReporter>(this, [this](int icon, const QString& text) {
            show_status(icon, text);
        });
        reporter_ = own_reporter_.get();
    }
    if (!options_.clock) options_.clock = [] { return QDateTime::currentDateTime(); };
    program_dir_ = options_.program_dir.isEmpty() ? QCoreApplication::applicationDirPath() : options_.program_dir;
    painting_library_ = std::make_unique<PaintFirstLibrary>(library_, [this] { before_blocking_call(); });
    connection_ = std::make_unique<SerialConnection>(*painting_library_, state_, settings_, *reporter_);
    upload_view_ = std::make_unique<QtUploadView>(*this);

    build();
    release_list_ = std::make_unique<ListBox>(*ui_.lstVersions);
    search_view_ = std::make_unique<SearchView>(*this);

    // Load: the window is centred when it first shows (it needs its final size for that).
    init_vars();
    set_help_ids();
    help_file_ = help_file_path(program_dir_);
    set_list_tab_stop(*ui_.lstVersions, kListTabStopDialogUnits);
    // However small the window is made, both columns of the list and their headings stay
    // whole: the version column's text ends inside the list beside its scroll bar.
    const auto* tabs = qobject_cast<const TabStopDelegate*>(ui_.lstVersions->itemDelegate());
    const int version_width = qMax(ui_.lblVersion->sizeHint().width(),
                                   ui_.lstVersions->fontMetrics().horizontalAdvance(QStringLiteral("00.00 ")));
    ui_.lstVersions->setMinimumWidth(tabs->text_left(*ui_.lstVersions) + qCeil(tabs->tab_stop()) + version_width +
                                     style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2 * ui_.lstVersions->frameWidth());
    // The design's client area, 7665 by 3495 twips, is the least the window starts with; wider
    // where the longest status message needs it.
    resize(sizeHint().expandedTo(QSize(7665 / 15, 3495 / 15)));
    // F1 on a button opens its help topic, anywhere else the contents.
    QCoreApplication::instance()->installEventFilter(new HelpKeyFilter(this, [this] { return help_file_; }, this));
}

frmUpload::~frmUpload() = default;

void frmUpload::build() {
    setObjectName(QStringLiteral("frmUpload"));
    setWindowTitle(QStringLiteral("Operating System Uploader"));
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // Connected device.
    ui_.Frame1 = named(new QGroupBox(QStringLiteral("Connected Device"), central), "Frame1");
    ui_.Label1[0] = label(ui_.Frame1, "Label1_0", QStringLiteral("Model:"));
    ui_.Label1[1] = label(ui_.Frame1, "Label1_1", QStringLiteral("O/S Version:"));
    ui_.txtProjector = device_box(ui_.Frame1, "txtProjector");
    ui_.txtVersion = device_box(ui_.Frame1, "txtVersion");
    ui_.txtVersion->setMaximumWidth(ui_.txtVersion->fontMetrics().horizontalAdvance(QStringLiteral("000000.0000")));
    auto* device = new QGridLayout(ui_.Frame1);
    device->addWidget(ui_.Label1[0], 0, 0);
    device->addWidget(ui_.txtProjector, 0, 1);
    device->addWidget(ui_.Label1[1], 1, 0);
    device->addWidget(ui_.txtVersion, 1, 1, Qt::AlignLeft);
    device->setColumnStretch(1, 1);

    ui_.imgOrvelleLogo = label(central, "imgOrvelleLogo", QString());
    ui_.imgOrvelleLogo->setPixmap(maker_logo(120, 64));
    ui_.imgOrvelleLogo->setAlignment(Qt::AlignCenter);

    // Commands.
    ui_.cmdSearch = button(central, "cmdSearch", QStringLiteral("&Find Device"), true);
    ui_.cmdQueryStatus = button(central, "cmdQueryStatus", QStringLiteral("&Query Status"), false);
    ui_.cmdUpload = button(central, "cmdUpload", QStringLiteral("Start &Upload"), false);
    ui_.cmdExit = button(central, "cmdExit", QStringLiteral("E&xit"), true);
    ui_.cmdSearch->setDefault(true);
    auto* commands = new QVBoxLayout;
    commands->addWidget(ui_.cmdSearch);
    commands->addWidget(ui_.cmdQueryStatus);
    commands->addWidget(ui_.cmdUpload);
    commands->addStretch();
    commands->addWidget(ui_.cmdExit);

    // Release list.
    ui_.Label2 = label(central, "Label2", QStringLiteral("Available Operating Systems"));
    ui_.lblEmergencyMode = label(central, "lblEmergencyMode", QStringLiteral("Emergency Mode"));
    QPalette red = ui_.lblEmergencyMode->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ui_.lblEmergencyMode->setPalette(red);
    QFont bold = ui_.lblEmergencyMode->font();
    bold.setBold(true);
    ui_.lblEmergencyMode->setFont(bold);
    ui_.lblEmergencyMode->hide();
    ui_.lblModel = label(central, "lblModel",
                         QStringLiteral("Model") + QString(42, QLatin1Char(' ')) + QStringLiteral("Available Versions"));
    ui_.lblVersion = label(central, "lblVersion", QStringLiteral("Version"));
    // In the font of every other control.
    ui_.lstVersions = named(new ReleaseListBox(central), "lstVersions");
    ui_.lstVersions->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* heading = new QHBoxLayout;
    heading->addWidget(ui_.Label2);
    heading->addStretch();
    heading->addWidget(ui_.lblEmergencyMode);
    auto* columns = new ColumnHeadings(*ui_.lstVersions, *ui_.lblModel, *ui_.lblVersion, central);
    auto* releases = new QVBoxLayout;
    releases->addLayout(heading);
    releases->addWidget(columns);
    releases->addWidget(ui_.lstVersions, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(ui_.Frame1, 1);
    top->addWidget(ui_.imgOrvelleLogo);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(releases, 1);
    bottom->addLayout(commands);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addLayout(bottom, 1);

    // Status bar: light and message, date, time.
    ui_.staMain = named(new QStatusBar(this), "staMain");
    setStatusBar(ui_.staMain);
    // Each panel is a sunken box of its own, so the three read apart.
    auto* panel1 = named(new QFrame(ui_.staMain), "staMainPanel1");
    panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ui_.staMainIcon = label(panel1, "staMainIcon", QString());
    ui_.staMainIcon->setFixedSize(16, 16);
    auto* message = named(new StatusMessageLabel(panel1), "staMainText");
    QString longest;
    for (const QString& text : kLongestStatusTexts)
        if (message->fontMetrics().horizontalAdvance(text) > message->fontMetrics().horizontalAdvance(longest))
            longest = text;
    message->set_room_for(longest);
    ui_.staMainText = message;
    auto* panel1_layout = new QHBoxLayout(panel1);
    panel1_layout->setContentsMargins(3, 1, 3, 1);
    panel1_layout->addWidget(ui_.staMainIcon);
    panel1_layout->addWidget(ui_.staMainText, 1);
    ui_.staMainDate = label(ui_.staMain, "staMainDate", QString());
    ui_.staMainTime = label(ui_.staMain, "staMainTime", QString());
    // As wide as the widest date and time of the locale, no wider: the room is the message's.
    const QLocale locale;
    const QDateTime widest(QDate(2028, 12, 28), QTime(23, 58, 58));
    const QString widest_text[] = {locale.toString(widest.date(), QLocale::ShortFormat),
                                   locale.toString(widest.time(), QLocale::ShortFormat)};
    for (int i = 0; i < 2; ++i) {
        QLabel* clock = i == 0 ? ui_.staMainDate : ui_.staMainTime;
        clock->setMinimumWidth(clock->fontMetrics().horizontalAdvance(widest_text[i]) + 12);
        clock->setAlignment(Qt::AlignCenter);
        clock->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    ui_.staMain->addWidget(panel1, 1);
    ui_.staMain->addPermanentWidget(ui_.staMainDate);
    ui_.staMain->addPermanentWidget(ui_.staMainTime);
    update_time();
    tmrClock_ = named(new QTimer(this), "tmrClock");
    tmrClock_->setInterval(1000);
    connect(tmrClock_, &QTimer::timeout, this, &frmUpload::update_time);
    tmrClock_->start();

    // Menus.
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addSeparator()->setObjectName(QStringLiteral("mnuFileHyphen"));
    ui_.mnuExit = item(file, "mnuExit", QStringLiteral("E&xit"));
    QMenu* setup = menuBar()->addMenu(QStringLiteral("&Setup"));
    setup->setObjectName(QStringLiteral("mnuSetup"));
    ui_.mnuComPort = item(setup, "mnuComPort", QStringLiteral("&COM Port"));
    setup->addSeparator()->setObjectName(QStringLiteral("mnuSetupHyphen"));
    ui_.mnuWorkingDirectory = item(setup, "mnuWorkingDirectory", QStringLiteral("Working &Directory"));
    setup->addSeparator()->setObjectName(QStringLiteral("mnuSetupHyphen1"));
    ui_.mnuEmergencyMode = item(setup, "mnuEmergencyMode", QStringLiteral("&Emergency Mode"));
    ui_.mnuEmergencyMode->setCheckable(true);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    ui_.mnuHelpContents = item(help, "mnuHelpContents", QStringLiteral("&Contents"));
    help->addSeparator()->setObjectName(QStringLiteral("mnuHelpHypen"));
    ui_.mnuHelpAbout = item(help, "mnuHelpAbout", QStringLiteral("&About"));
    // F10 opens the menus from the keyboard, whatever Alt+F does at the moment.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this, file] { menuBar()->setActiveAction(file->menuAction()); });

    connect(ui_.cmdSearch, &QPushButton::clicked, this, &frmUpload::on_cmdSearch_clicked);
    connect(ui_.cmdQueryStatus, &QPushButton::clicked, this, &frmUpload::on_cmdQueryStatus_clicked);
    connect(ui_.cmdUpload, &QPushButton::clicked, this, &frmUpload::on_cmdUpload_clicked);
    connect(ui_.cmdExit, &QPushButton::clicked, this, &frmUpload::on_cmdExit_clicked);
    connect(ui_.lstVersions, &QListWidget::clicked, this, &frmUpload::on_lstVersions_clicked);
    // The keyboard moves the selection too.
    connect(ui_.lstVersions, &QListWidget::itemSelectionChanged, this, &frmUpload::on_lstVersions_clicked);
    connect(ui_.mnuExit, &QAction::triggered, this, &frmUpload::on_mnuExit_triggered);
    connect(ui_.mnuComPort, &QAction::triggered, this, &frmUpload::on_mnuComPort_triggered);
    connect(ui_.mnuWorkingDirectory, &QAction::triggered, this, &frmUpload::on_mnuWorkingDirectory_triggered);
    connect(ui_.mnuEmergencyMode, &QAction::triggered, this, &frmUpload::on_mnuEmergencyMode_triggered);
    connect(ui_.mnuHelpContents, &QAction::triggered, this, &frmUpload::on_mnuHelpContents_triggered);
    connect(ui_.mnuHelpAbout, &QAction::triggered, this, &frmUpload::on_mnuHelpAbout_triggered);
    ui_.cmdSearch->installEventFilter(this);
    menuBar()->installEventFilter(this);

}

void frmUpload::init_vars() { halvern::init_vars(state_, settings_, program_dir_); }

void frmUpload::show_status(int icon, const QString& text) {
    if (icon < 1 || icon > 3) {
        reporter_->message_box(QStringLiteral("Unable to display status message."));
        return;
    }
    const QString& key = kStatusIconKeys[icon - 1];
    ui_.staMainIcon->setPixmap(status_light(key, ui_.staMainIcon->width()));
    ui_.staMainIcon->setProperty("iconKey", key);
    // The failure line that follows an open the library refused carries its cause.
    const QString cause =
        icon == 3 && painting_library_ && painting_library_->take_open_failure() ? port_open_cause(library_.open_failure()) : QString();
    static_cast<StatusMessageLabel*>(ui_.staMainText)->set_message(text, cause);
}

void frmUpload::set_help_ids() {
    ui_.cmdSearch->setProperty("helpTopic", kHelpTopicSearch);
    ui_.cmdUpload->setProperty("helpTopic", kHelpTopicUpload);
}

void frmUpload::update_time() {
    const QDateTime now = options_.clock();
    const QLocale locale;
    ui_.staMainDate->setText(locale.toString(now.date(), QLocale::ShortFormat));
    ui_.staMainTime->setText(locale.toString(now.time(), QLocale::ShortFormat));
}

bool frmUpload::emergency_mode() const { return ui_.mnuEmergencyMode->isChecked(); }

void frmUpload::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        center_form(*this);
        // Once the window is laid out in its final font: it grows by what the message panel
        // still lacks for the longest status message, and stands in the middle again.
        QTimer::singleShot(0, this, [this] {
            if (const int lacking = static_cast<StatusMessageLabel*>(ui_.staMainText)->lacking_room(); lacking > 0) {
                resize(width() + lacking, height());
                center_form(*this);
            }
        });
        ui_.cmdSearch->setFocus();
    }
    QMainWindow::showEvent(event);
}

void frmUpload::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (ui_.cmdSearch->isEnabled()) ui_.cmdSearch->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool frmUpload::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Shortcut && (watched == ui_.cmdSearch || watched == menuBar())) {
        // Both grab Alt+F; left alone, each press would only move the focus between them.
        const auto* shortcut = static_cast<QShortcutEvent*>(event);
        if (shortcut->isAmbiguous() && shortcut->key() == QKeySequence::mnemonic(ui_.cmdSearch->text())) {
            if (ui_.cmdSearch->isEnabled()) ui_.cmdSearch->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmUpload::before_blocking_call() {
    if (uploading_) setCursor(Qt::WaitCursor);
    paint_now(*this);
}

void frmUpload::closeEvent(QCloseEvent* event) {
    if (uploading_) {
        // Ending the program now could leave the projector half-flashed.
        event->ignore();
        return;
    }
    event->accept();
    end_program();
}

void frmUpload::end_program() {
    if (ending_) return;
    ending_ = true;
    if (options_.end_program) options_.end_program();
    else QCoreApplication::exit(0);
}

void frmUpload::on_cmdExit_clicked() {
    if (uploading_) return;
    library_.close_port(state_.serial_handle);
    end_program();
}

void frmUpload::on_mnuExit_triggered() {
    if (uploading_) return;
    end_program();
}

void frmUpload::on_mnuComPort_triggered() {
    frmComPort dialog(state_, settings_, *connection_, this);
    dialog.exec();
}

void frmUpload::on_cmdSearch_clicked() {
    if (uploading_) return;
    run_device_search(*connection_, *reporter_, *search_view_);
}

void frmUpload::on_cmdQueryStatus_clicked() {
    if (uploading_) return;
    query_device_status(*connection_, *reporter_);
}

void frmUpload::on_cmdUpload_clicked() {
    if (uploading_) return;
    // The release is the one selected when the button was pressed; without a selected line
    // there is nothing to upload.
    const QList<QListWidgetItem*> selected = ui_.lstVersions->selectedItems();
    if (selected.isEmpty()) return;
    const int line = ui_.lstVersions->row(selected.first());

    UploadRequest request;
    request.selected_line = selected.first()->text();
    request.version_file = catalogue_.path_of(line);
    request.working_directory = state_.working_directory;
    request.emergency = emergency_mode();
    request.pause = options_.upload_pause;
    request.wait_for_cool_down = options_.wait_for_cool_down ? options_.wait_for_cool_down : [this] {
        frmCoolDown window(library_, state_, *reporter_, this);
        window.exec();
    };
    lock_commands(true);
    run_upload(*connection_, *reporter_, *upload_view_, request);
    lock_commands(false);
    unsetCursor();
}

void frmUpload::lock_commands(bool locked) {
    if (locked) {
        uploading_ = true;
        locked_.clear();
        focus_before_lock_ = QApplication::focusWidget();
        const std::initializer_list<QObject*> commands = {ui_.cmdSearch, ui_.cmdQueryStatus, ui_.cmdUpload,
                                                          ui_.cmdExit, ui_.mnuExit, ui_.mnuComPort,
                                                          ui_.mnuWorkingDirectory, ui_.mnuEmergencyMode,
                                                          ui_.lstVersions, ui_.mnuHelpAbout};
        for (QObject* command : commands) {
            locked_.emplace_back(command, command->property("enabled").toBool());
            command->setProperty("enabled", false);
        }
    } else {
        for (const auto& [command, enabled] : locked_) command->setProperty("enabled", enabled);
        locked_.clear();
        uploading_ = false;
        // The button follows the selection, as after a click on the list.
        on_lstVersions_clicked();
        // The keyboard returns where it was (the locked controls had pushed it away), so that
        // Enter does not land on a button the person never chose.
        QWidget* focus = focus_before_lock_;
        if (!focus || !focus->isEnabled())
            focus = ui_.cmdSearch->isEnabled() ? static_cast<QWidget*>(ui_.cmdSearch) : ui_.lstVersions;
        focus->setFocus();
    }
}

void frmUpload::on_lstVersions_clicked() {
    if (uploading_) return;
    ui_.cmdUpload->setEnabled(upload_enabled_for(static_cast<int>(ui_.lstVersions->selectedItems().size())));
}

void frmUpload::list_versions() {
    catalogue_.list_versions(*release_list_, state_.working_directory, *reporter_,
                             [this] { show_working_directory_dialog(); });
    if (!uploading_) ui_.cmdUpload->setEnabled(false);
}

void frmUpload::on_mnuEmergencyMode_triggered() {
    // The menu item is checkable: its check mark has already been inverted.
    const bool on = emergency_mode();
    state_.emergency_mode = on;
    ui_.cmdQueryStatus->setEnabled(!ui_.txtProjector->text().isEmpty() && !ui_.txtVersion->text().isEmpty() && !on);
    ui_.cmdSearch->setEnabled(!on);
    ui_.cmdUpload->setEnabled(false);
    ui_.lblEmergencyMode->setVisible(on);
    // The keyboard goes where the next step is: the release list, or "&Find Device".
    (on ? static_cast<QWidget*>(ui_.lstVersions) : ui_.cmdSearch)->setFocus();
    if (on) {
        list_versions();
        ui_.txtProjector->clear();
        ui_.txtVersion->clear();
        reporter_->show_status(1, QStringLiteral("In emergency mode."));
    } else {
        ui_.lstVersions->clear();
        catalogue_.version_files.clear();
        reporter_->show_status(1, QStringLiteral("In normal mode."));
    }
}

void frmUpload::on_mnuWorkingDirectory_triggered() { show_working_directory_dialog(); }

void frmUpload::show_working_directory_dialog() {
    WorkingDirectoryHooks hooks;
    hooks.shows_device = [this] { return !ui_.txtProjector->text().isEmpty() && !ui_.txtVersion->text().isEmpty(); };
    hooks.emergency_mode = [this] { return emergency_mode(); };
    hooks.list_versions = [this] { list_versions(); };
    frmWorkingDirectory dialog(state_, settings_, *reporter_, std::move(hooks), this);
    dialog.exec();
}

void frmUpload::on_mnuHelpContents_triggered() { show_help(this, help_file_, 0); }

void frmUpload::on_mnuHelpAbout_triggered() {
    if (uploading_) return;  // a modal box would hold the transfer still
    frmAboutOptions about;
    about.reporter = options_.reporter;
    frmAbout(about, this).exec();
}

}  // namespace halvern
