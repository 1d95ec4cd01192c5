#pragma once
// The one place where a port name becomes what to open and what it reaches. A port name is
//   COM1 to COM4         mapped through section "Ports" of the settings (PortMap), by default
//                        to /dev/ttyS0 to /dev/ttyS3;
//   rfc2217://HOST:PORT  a serial device server with COM port control (RFC 2217);
//   tcp://HOST:PORT      a serial device server that passes raw bytes;
//   anything else        a device path, as it is.
// Two names reach one port when their identities share a key: a character device by its
// device number once every link is followed; a server by each address its host resolves to,
// with the TCP port. So rfc2217:// and tcp:// to one server are one port, and so are
// localhost, 127.0.0.1 and [::ffff:127.0.0.1].

#include "common/SettingsStore.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace halvern {

inline constexpr int kComPortCount = 4;

// "COM1" to "COM4" in any letter case: 1 to 4; any other name: 0.
int com_number(const QString& name);
// What COMn reaches when section "Ports" has no line for it: /dev/ttyS0 to /dev/ttyS3.
QString default_com_device(int com);

// Section "Ports" as data: the line of each of COM1 to COM4 as stored, blanks around it
// dropped; an empty line stands for none.
struct PortMap {
    std::array<QString, kComPortCount> lines;
    // Reads the four lines of settings; nothing is written.
    static PortMap read(const SettingsStore& settings);
    // What COMn (1 to 4) reaches: its line, or the default.
    QString target(int com) const;
};

// A well-formed network name.
struct NetworkAddress {
    bool rfc2217 = false;  // otherwise raw TCP
    QString host;          // lower case; an IPv6 address without its brackets
    quint16 port = 0;
};

// Whether name is written as a network address: "rfc2217://" or "tcp://" in front, any case.
bool is_network_name(const QString& name);
// The address of a network name: a host name, an IPv4 address or an IPv6 address in
// brackets, ":", a port 1 to 65535, and at most a "/" after it. Anything else gives nothing,
// and error (when given) says why in a few words ("no port", "port 0 is outside 1 to 65535").
std::optional<NetworkAddress> parse_network_name(const QString& name, QString* error = nullptr);
// Checks a port name as it is given on a command line, without opening or looking up
// anything: COM1 to COM4, a device path (anything with a '/'), or a well-formed network
// name. Empty when it is one; otherwise one line saying what is wrong with it.
QString port_name_problem(const QString& name);

// What a port name reaches, before anything is opened.
struct PortTarget {
    QString name;                           // as given, blanks around it dropped
    QString path;                           // after the map: a device path or a network name
    std::optional<NetworkAddress> address;  // of a well-formed network name
    QString error;                          // of a malformed network name: why
    bool network() const { return is_network_name(path); }
};
PortTarget resolve_port(const QString& name, const PortMap& map);

// Host name lookup. A lookup blocks until the name service answers; lookup_host bounds it.
using HostLookup = std::function<std::vector<QHostAddress>(const QString& host)>;
// The system's resolver (getaddrinfo), every address of the host once, in its order.
HostLookup system_host_lookup();
struct HostAddresses {
    enum class Outcome { kFound, kNotFound, kNoAnswer };
    Outcome outcome = Outcome::kNotFound;
    std::vector<QHostAddress> addresses;
};
// A literal address at once; a name through lookup on a thread of its own, given up at the
// deadline (the lookup then finishes on its own and its answer is dropped).
HostAddresses lookup_host(const QString& host, const QDeadlineTimer& deadline, const HostLookup& lookup);

// The key of a server address: "ADDRESS:PORT", an IPv4-mapped IPv6 address as IPv4 and every
// loopback address (127.0.0.0/8, ::1) as 127.0.0.1, all of which reach this machine.
QString address_key(const QHostAddress& address, quint16 port);

// What every name of one port shares.
struct PortIdentity {
    QString device;    // for people: the device path with links followed, or the network name
    QStringList keys;  // "char 188:0", "path /x", "net 127.0.0.1:3001", one per server address
    bool same_port(const PortIdentity& other) const;
};
// The identity of what target reaches. A network host is looked up within deadline; a host
// that cannot be looked up in time is known by its name as written.
PortIdentity identify_port(const PortTarget& target, const QDeadlineTimer& deadline,
                           const HostLookup& lookup = system_host_lookup());

}  // namespace halvern
