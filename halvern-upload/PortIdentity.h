#pragma once
// Which device a port name reaches: COM1 to COM4 through section "Ports" of the settings
// (as the device library maps them), every symbolic link followed, and a character device
// known by its device number, so that two names of one device are told apart from two
// devices before anything is sent.

#include "common/SettingsStore.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace halvern::cli {

struct PortDevice {
    QString name;      // as given
    QString device;    // the path it reaches, links followed (a network port as written)
    QString identity;  // what two names of one device share
};

PortDevice resolve_port_device(const QString& name, const SettingsStore& settings);

// "A and B name the same device D" for the first pair of names that reach one device.
std::optional<QString> same_device_named_twice(const QStringList& names, const SettingsStore& settings);

// The port names of a --ports file: one a line, blanks around it ignored, blank lines and
// everything from a '#' on skipped. On failure error says which line is wrong and why.
std::optional<QStringList> read_ports_file(const QString& path, QString& error);

}  // namespace halvern::cli
