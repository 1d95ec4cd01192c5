#pragma once
// Which port each name of a command line reaches (device/PortResolver.h), so that two names
// of one device or one server are told apart from two ports before anything is sent.

#include "common/SettingsStore.h"
#include "device/PortResolver.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvern::cli {

struct PortDevice {
    QString name;           // as given
    QString device;         // the path it reaches, links followed, or the network name
    PortIdentity identity;  // what two names of one port share
};

// A host name is looked up within a few seconds, and known by its name when it is not found.
PortDevice resolve_port_device(const QString& name, const PortMap& map);
inline PortDevice resolve_port_device(const QString& name, const SettingsStore& settings) {
    return resolve_port_device(name, PortMap::read(settings));
}

// "A and B name the same device D" for the first pair of names that reach one port (also
// rfc2217:// and tcp:// to one server, or two spellings of one server).
std::optional<QString> same_device_named_twice(const QStringList& names, const PortMap& map);
inline std::optional<QString> same_device_named_twice(const QStringList& names, const SettingsStore& settings) {
    return same_device_named_twice(names, PortMap::read(settings));
}

// The port names of a --ports file: one a line, blanks around it ignored, blank lines and
// everything from a '#' on skipped. On failure error says which line is wrong and why.
std::optional<QStringList> read_ports_file(const QString& path, QString& error);

}  // namespace halvern::cli
