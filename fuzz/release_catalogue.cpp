// The release catalogue over a directory built from the input, and the whole-release check of
// every release it lists. The input is a list of directory entries, each
//   kind (1 byte), name length (1 byte), name, content length (2 bytes, big-endian), content
// where kind picks a regular file, a FIFO, a link to a regular file, a link to /dev/zero, a
// link to a FIFO, a dangling link or a directory. Nothing may crash or block; only regular
// files may be listed, and a release may pass its check only when all its files are regular.
#include "fuzz/FuzzSupport.h"
#include "image/FileLookup.h"
#include "image/ReleaseCatalogue.h"
#include "image/ReleaseCheck.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

using namespace halvern;

namespace {

class Lines : public ReleaseListView {
public:
    QStringList lines;
    void clear_lines() override { lines.clear(); }
    void add_line(const QString& line) override { lines << line; }
};

// A file name from the input: no separators, no NUL, not "." or "..", and no leading ':'
// (QDir takes such a name for a resource path and would place it outside the directory).
QString entry_name(const QByteArray& raw) {
    QString name;
    for (char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        name += (u < 0x20 || c == '/' || u >= 0x7F) ? QLatin1Char('_') : QLatin1Char(c);
    }
    if (name.startsWith(QLatin1Char(':'))) name[0] = QLatin1Char('_');
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) name = QStringLiteral("_");
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QDir base(fuzz::scratch_directory());
    base.mkpath(QStringLiteral("targets"));
    const QString targets = base.filePath(QStringLiteral("targets"));
    const QString work = base.filePath(QStringLiteral("work"));
    QDir(work).removeRecursively();
    base.mkdir(QStringLiteral("work"));
    static const bool made = [&] {
        fuzz::write_file(targets, QStringLiteral("regular"), "S9030000FC\r\n");
        ::mkfifo(QFile::encodeName(QDir(targets).filePath(QStringLiteral("fifo"))).constData(), 0600);
        return true;
    }();
    (void)made;

    std::size_t at = 0;
    for (int entries = 0; entries < 12 && at + 2 <= size; ++entries) {
        const int kind = data[at] % 7;
        const std::size_t name_length = std::min<std::size_t>(data[at + 1] % 24, size - at - 2);
        const QString name = entry_name(fuzz::bytes_of(data + at + 2, name_length));
        at += 2 + name_length;
        std::size_t content_length = 0;
        if (at + 2 <= size) {
            content_length = std::min<std::size_t>((std::size_t(data[at]) << 8) | data[at + 1], size - at - 2);
            at += 2;
        }
        const QByteArray content = fuzz::bytes_of(data + at, content_length);
        at += content_length;
        const QString path = QDir(work).filePath(name);
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) continue;
        switch (kind) {
        case 0: fuzz::write_file(work, name, content); break;
        case 1: ::mkfifo(QFile::encodeName(path).constData(), 0600); break;
        case 2: QFile::link(QDir(targets).filePath(QStringLiteral("regular")), path); break;
        case 3: QFile::link(QStringLiteral("/dev/zero"), path); break;
        case 4: QFile::link(QDir(targets).filePath(QStringLiteral("fifo")), path); break;
        case 5: QFile::link(QDir(work).filePath(QStringLiteral("nowhere")), path); break;
        case 6: QDir(work).mkdir(name); break;
        }
    }

    Lines lines;
    CollectingReporter reporter;
    ReleaseCatalogue catalogue;
    catalogue.list_versions(lines, work, reporter, {});
    if (lines.lines.size() != catalogue.version_files.size()) std::abort();
    for (const QString& path : catalogue.version_files) {
        if (!is_regular_file(path)) std::abort();
        CollectingReporter check;
        std::vector<ReleaseFileCheck> files;
        const bool accepted = check_release(path, work, check, &files);
        if (accepted && !check.boxes.isEmpty()) std::abort();
        if (!accepted && check.boxes.isEmpty() && !files.empty()) std::abort();
        for (const ReleaseFileCheck& file : files)
            if (find_ordinary_file(work, file.file_name).isEmpty()) std::abort();
    }
    return 0;
}
