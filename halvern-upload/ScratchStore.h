#pragma once
// The store the library and the connection write to during a run: a scratch file that
// starts with the user's port map. The handle the connection mirrors means nothing once this
// process has ended, so the desktop tool's "hndCom" is left alone.

#include "common/SettingsStore.h"

#include <QList>
#include <QTemporaryDir>

#include <utility>

namespace halvern::cli {

// The user's lines of section "Ports": COM1 to COM4 and the device paths they name.
using PortMap = QList<std::pair<QString, QString>>;

inline PortMap port_map(const SettingsStore& user) {
    PortMap map;
    for (int n = 1; n <= 4; ++n) {
        const QString key = QStringLiteral("COM%1").arg(n);
        if (user.contains(QStringLiteral("Ports"), key)) map.append({key, user.get(QStringLiteral("Ports"), key)});
    }
    return map;
}

class ScratchStore {
public:
    explicit ScratchStore(const SettingsStore& user) : ScratchStore(port_map(user)) {}
    explicit ScratchStore(const PortMap& ports)
        : store_(dir_.isValid() ? dir_.filePath(QStringLiteral("run.ini")) : QStringLiteral("/dev/null")) {
        for (const auto& [key, path] : ports) store_.set(QStringLiteral("Ports"), key, path);
    }
    SettingsStore& store() { return store_; }

private:
    QTemporaryDir dir_;
    SettingsStore store_;
};

}  // namespace halvern::cli
