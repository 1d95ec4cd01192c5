#include "dialogs/frmAbout.h"

#include "common/AppState.h"
#include "common/CenterForm.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

#ifndef HALVERN_VERSION_MAJOR
#define HALVERN_VERSION_MAJOR 1
#endif
#ifndef HALVERN_VERSION_MINOR
#define HALVERN_VERSION_MINOR 1
#endif

// The resource is compiled into a static library: asking for it by name keeps it linked in.
static void load_program_icon_resource() { Q_INIT_RESOURCE(program_icon); }

namespace halvern {

QIcon program_icon() {
    load_program_icon_resource();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/halvern-%1.png").arg(size), QSize(size, size));
    return icon;
}

namespace {

const QString kCopyright = QStringLiteral(
    "Halvern! loads a new operating system into a video projector over a serial line, from the "
    "releases kept in the working directory.");
const QString kDisclaimer = QStringLiteral(
    "Warning: do not interrupt an upload once it has started. Switching off the projector or the "
    "computer, or pulling the serial cable, while the operating system is being written can leave "
    "the projector unable to start. Such a projector can only be loaded again in Emergency Mode.");

template <class W>
W* named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QFrame* line(QWidget* parent, const QString& name) {
    auto* l = named(new QFrame(parent), name);
    l->setFrameShape(QFrame::HLine);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

QLabel* notice(QWidget* parent, const QString& name, const QString& text) {
    auto* l = named(new QLabel(text, parent), name);
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText);
    return l;
}

#ifdef Q_OS_WIN
// GetKeyValue: a string value under the local-machine root, read-only; nothing when the key or
// the value is missing.
std::optional<QString> read_registry(const QString& key, const QString& value_name) {
    QSettings settings(QStringLiteral("HKEY_LOCAL_MACHINE\\") + key, QSettings::NativeFormat);
    const QVariant value = settings.value(value_name);
    if (!value.isValid()) return std::nullopt;
    QString text = value.toString();
    if (text.endsWith(QChar(0))) text.chop(1);
    return text;
}
#else
// No registry here: the PATH road alone finds the tool.
std::optional<QString> no_registry(const QString&, const QString&) { return std::nullopt; }
#endif

}  // namespace

QString about_title() {
    return kAppTitle + QStringLiteral("  v") + QString::number(HALVERN_VERSION_MAJOR) + QLatin1Char('.') +
           QString::number(HALVERN_VERSION_MINOR);
}

const QStringList& system_info_candidates() {
    static const QStringList candidates{
        QStringLiteral("hardinfo2"),            // system profiler
        QStringLiteral("hardinfo"),
        QStringLiteral("kinfocenter"),          // desktop information centre
        QStringLiteral("gnome-system-monitor"), // system overview and resources
        QStringLiteral("lshw-gtk"),             // hardware lister
    };
    return candidates;
}

QString find_system_info_program(const QStringList& candidates, const ProgramLookup& lookup) {
    if (!lookup) return QString();
    for (const QString& name : candidates) {
        const QString path = lookup(name);
        if (!path.isEmpty()) return path;
    }
    return QString();
}

QString registry_system_info_program(const KeyValueReader& get_key_value,
                                     const std::function<bool(const QString& file)>& file_exists) {
    if (!get_key_value) return QString();
    if (const auto path = get_key_value(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                                        QStringLiteral("PATH"));
        path && !path->isEmpty())
        return *path;
    if (const auto dir = get_key_value(QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                                       QStringLiteral("MSINFO"));
        dir && !dir->isEmpty()) {
        const QString file = *dir + QStringLiteral("\\MSINFO32.EXE");
        if (file_exists && file_exists(file)) return file;
    }
    return QString();
}

frmAbout::frmAbout(frmAboutOptions options, QWidget* parent) : QDialog(parent), options_(std::move(options)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + kAppTitle);
    if (!options_.find_program)
        options_.find_program = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    if (!options_.launch)
        options_.launch = [](const QString& program) { return QProcess::startDetached(program, {}); };
    if (!options_.get_key_value) {
#ifdef Q_OS_WIN
        options_.get_key_value = read_registry;
#else
        options_.get_key_value = no_registry;
#endif
    }

    auto* picIcon = named(new QLabel(this), QStringLiteral("picIcon"));
    picIcon->setPixmap(program_icon().pixmap(48, 48));
    picIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* lblTitle = named(new QLabel(about_title(), this), QStringLiteral("lblTitle"));
    QFont title_font = lblTitle->font();
    title_font.setBold(true);
    title_font.setPointSizeF(title_font.pointSizeF() * 1.5);
    lblTitle->setFont(title_font);

    auto* cmdOK = named(new QPushButton(QStringLiteral("&OK"), this), QStringLiteral("cmdOK"));
    auto* cmdSysInfo = named(new QPushButton(QStringLiteral("&System Info..."), this), QStringLiteral("cmdSysInfo"));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(lblTitle);
    text->addWidget(line(this, QStringLiteral("Line1_0")));
    text->addWidget(notice(this, QStringLiteral("lblCopyright"), kCopyright));
    text->addWidget(notice(this, QStringLiteral("lblDisclaimer"), kDisclaimer));
    text->addWidget(line(this, QStringLiteral("Line1_1")));
    text->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    text->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(picIcon, 0, Qt::AlignTop);
    layout->addLayout(text, 1);

    // Design size 5730 by 3855 twips at 15 twips to the pixel.
    resize(382, 257);
    setModal(true);

    // Escape rejects the dialog, which closes it exactly as OK does.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

void frmAbout::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        center_form(*this);
    }
    QDialog::showEvent(event);
}

void frmAbout::StartSysInfo() {
    QString program = registry_system_info_program(
        options_.get_key_value, [](const QString& file) { return QFileInfo(file).isFile(); });
    if (program.isEmpty()) program = find_system_info_program(system_info_candidates(), options_.find_program);
    if (!program.isEmpty() && options_.launch(program)) return;

    if (options_.reporter) {
        options_.reporter->message_box(kSystemInfoUnavailable);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, kSystemInfoUnavailable, QMessageBox::Ok, this);
    box.exec();
}

}  // namespace halvern
