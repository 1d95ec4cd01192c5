#include "dialogs/frmWorkingDirectory.h"

#include "common/CenterForm.h"
#include "dialogs/HelpWindow.h"
#include "image/FileLookup.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <dirent.h>

#include <cerrno>
#include <cstring>

namespace halvern {

QList<Volume> mounted_volumes() {
    QList<Volume> out;
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes())
        out << Volume{info.rootPath(), info.displayName(), info.isValid() && info.isReady()};
    return out;
}

namespace {

constexpr int kPathRole = Qt::UserRole;

QString unavailable_message() {
    return QStringLiteral("The directory specified is unavailable.  Please select a new working directory.");
}

bool is_under(const QString& path, const QString& root) {
    if (root == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

struct frmWorkingDirectory::Private {
    AppState& state;
    SettingsStore& settings;
    Reporter& reporter;
    WorkingDirectoryHooks hooks;
    QList<Volume> volumes;
    QHash<QString, QString> last_directory_of;  // volume root -> its current directory
    QString current;
    bool centred = false;

    QComboBox* drvFiles = nullptr;
    QTreeWidget* dirFiles = nullptr;

    // The volume whose root is the longest prefix of path, or -1.
    int volume_of(const QString& path) const {
        int best = -1;
        for (int i = 0; i < volumes.size(); ++i)
            if (is_under(path, volumes[i].root) && (best < 0 || volumes[i].root.size() > volumes[best].root.size()))
                best = i;
        return best;
    }

    // Makes path the current directory of dirFiles: its ancestors from the root down, then its
    // subdirectories; the current directory's entry is highlighted.
    void set_current(const QString& path) {
        current = QDir::cleanPath(path);
        dirFiles->clear();
        const QIcon open = dirFiles->style()->standardIcon(QStyle::SP_DirOpenIcon);
        const QIcon closed = dirFiles->style()->standardIcon(QStyle::SP_DirClosedIcon);

        QStringList chain;
        for (QString p = current;; p = QFileInfo(p).path()) {
            chain.prepend(p);
            if (QFileInfo(p).path() == p) break;
        }
        QTreeWidgetItem* parent = nullptr;
        for (const QString& p : chain) {
            const QString label = parent ? QFileInfo(p).fileName() : p;
            auto* item = parent ? new QTreeWidgetItem(parent, QStringList{label})
                                : new QTreeWidgetItem(dirFiles, QStringList{label});
            item->setData(0, kPathRole, p);
            item->setIcon(0, open);
            item->setExpanded(true);
            parent = item;
        }
        const QStringList subdirectories =
            QDir(current).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QString& name : subdirectories) {
            // A link to something other than a directory (/dev/stdin) is no folder.
            if (!QFileInfo(join_path(current, name)).isDir()) continue;
            auto* item = new QTreeWidgetItem(parent, QStringList{name});
            item->setData(0, kPathRole, join_path(current, name));
            item->setIcon(0, closed);
        }
        for (QTreeWidgetItem* p = parent; p; p = p->parent()) p->setExpanded(true);
        dirFiles->setCurrentItem(parent);
        if (parent) dirFiles->scrollToItem(parent);

        const int volume = volume_of(current);
        if (volume >= 0) {
            last_directory_of.insert(volumes[volume].root, current);
            const QSignalBlocker block(drvFiles);
            drvFiles->setCurrentIndex(volume);
        }
    }

    // Opens an entry of dirFiles (double click, or Enter on the highlighted one). What keeps
    // it from being opened is said as the system says it.
    void open(const QString& path) {
        const QByteArray native = QFile::encodeName(path);
        DIR* listing = ::opendir(native.constData());
        if (!listing) {
            const int error = errno;
            reporter.message_box(QStringLiteral("Unexpected error. ") + QString::fromLocal8Bit(std::strerror(error)) +
                                 QStringLiteral(": ") + path);
            return;
        }
        ::closedir(listing);
        set_current(path);
    }

    // A volume chosen in drvFiles: move to its last directory, or its root.
    void volume_changed(int index) {
        if (index < 0 || index >= volumes.size()) return;
        const Volume& volume = volumes[index];
        const QFileInfo root(volume.root);
        if (!volume.ready || !root.isDir() || !root.isExecutable()) {
            reporter.message_box(unavailable_message());
            return;  // dirFiles keeps its directory, drvFiles shows the chosen volume
        }
        QString target = last_directory_of.value(volume.root, volume.root);
        if (classify_directory(target) != DirectoryAccess::Usable) target = volume.root;
        set_current(target);
    }

    QString highlighted() const {
        const QTreeWidgetItem* item = dirFiles->currentItem();
        return item ? item->data(0, kPathRole).toString() : current;
    }

    static QString starting_directory(const QString& stored) {
        switch (classify_directory(stored)) {
        case DirectoryAccess::Usable: return QDir::cleanPath(stored);
        case DirectoryAccess::Missing: return QCoreApplication::applicationDirPath();
        case DirectoryAccess::Unusable: break;
        }
        // Something there that cannot be opened (a file, a locked directory): the program's
        // directory; a malformed path or an unreadable volume: the root.
        return QFileInfo::exists(stored) ? QCoreApplication::applicationDirPath() : QDir::rootPath();
    }
};

frmWorkingDirectory::frmWorkingDirectory(AppState& state, SettingsStore& settings, Reporter& reporter,
                                         WorkingDirectoryHooks hooks, QWidget* parent)
    : QDialog(parent), d(new Private{state, settings, reporter, std::move(hooks), {}, {}, {}, false}) {
    setObjectName(QStringLiteral("frmWorkingDirectory"));
    setWindowTitle(QStringLiteral("Select Working Directory"));
    setModal(true);

    d->drvFiles = new QComboBox(this);
    d->drvFiles->setObjectName(QStringLiteral("drvFiles"));
    d->dirFiles = new QTreeWidget(this);
    d->dirFiles->setObjectName(QStringLiteral("dirFiles"));
    d->dirFiles->setHeaderHidden(true);
    d->dirFiles->setColumnCount(1);
    d->dirFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    d->dirFiles->setExpandsOnDoubleClick(false);
    d->dirFiles->setItemsExpandable(false);
    d->dirFiles->setRootIsDecorated(false);
    auto* cmdSelect = new QPushButton(QStringLiteral("&Select"), this);
    cmdSelect->setObjectName(QStringLiteral("cmdSelect"));
    cmdSelect->setDefault(true);
    auto* cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto* left = new QVBoxLayout;
    left->addWidget(d->drvFiles);
    left->addWidget(d->dirFiles, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(cmdSelect);
    right->addWidget(cmdCancel);
    right->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right);
    resize(420, 300);

    d->volumes = d->hooks.volumes ? d->hooks.volumes() : mounted_volumes();
    for (const Volume& v : d->volumes)
        d->drvFiles->addItem(v.name.isEmpty() || v.name == v.root ? v.root : v.root + QStringLiteral(" [") + v.name + "]");
    d->set_current(Private::starting_directory(state.working_directory));

    connect(d->drvFiles, &QComboBox::currentIndexChanged, this, [this](int index) { d->volume_changed(index); });
    connect(d->dirFiles, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { d->open(item->data(0, kPathRole).toString()); });
    d->dirFiles->installEventFilter(this);
    setProperty("helpTopic", kHelpTopicWorkingDirectory);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdSelect, &QPushButton::clicked, this, [this] {
        d->state.working_directory = d->highlighted();
        d->settings.set_startup(QStringLiteral("Working Directory"), d->state.working_directory);
        const WorkingDirectoryHooks hooks = d->hooks;
        const bool emergency = hooks.emergency_mode && hooks.emergency_mode();
        const bool device = hooks.shows_device && hooks.shows_device();
        accept();
        if ((emergency || device) && hooks.list_versions) hooks.list_versions();
    });
}

frmWorkingDirectory::~frmWorkingDirectory() { delete d; }

QString frmWorkingDirectory::current_directory() const { return d->current; }

bool frmWorkingDirectory::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the directory list opens the highlighted entry, so the keyboard can go deeper;
    // "&Select" stores the choice.
    if (watched == d->dirFiles && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (const QTreeWidgetItem* item = d->dirFiles->currentItem()) d->open(item->data(0, kPathRole).toString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmWorkingDirectory::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!d->centred) {
        d->centred = true;
        center_form(*this);
    }
}

}  // namespace halvern
