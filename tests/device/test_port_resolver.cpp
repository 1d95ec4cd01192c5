// The one resolver of port names: what a name opens, which network names are well-formed and
// why not, and which spellings reach one server.

#include "device/PortResolver.h"

#include <gtest/gtest.h>

namespace halvern {
namespace {

TEST(PortResolver, WhatANameOpensAndWhyANetworkNameIsMalformed) {
    const struct {
        const char* name;
        const char* host_or_error;  // the host when well-formed, else the reason
        int port;                   // 0: malformed
        bool rfc2217 = false;
    } rows[] = {
        {"rfc2217://127.0.0.1:2000", "127.0.0.1", 2000, true},
        {"RFC2217://Projector-7.Example:4001/", "projector-7.example", 4001, true},
        {"tcp://[::1]:7000", "::1", 7000},
        {"tcp://[::FFFF:127.0.0.1]:65535", "::ffff:127.0.0.1", 65535},
        {"rfc2217://127.0.0.1", "no port (HOST:PORT)", 0},
        {"tcp://[::1]", "no port (HOST:PORT)", 0},
        {"rfc2217://127.0.0.1:0", "port 0 is outside 1 to 65535", 0},
        {"rfc2217://h:9999999999", "port 9999999999 is outside 1 to 65535", 0},
        {"rfc2217://:2000", "no host", 0},
        {"tcp://host:2000/path", "nothing may follow the port: /path", 0},
        {"tcp://user@host:2000", "not a host name: user@host", 0},
        {"tcp://host:port", "not a port number: port", 0},
        {"tcp://[::1:7000", "no ] after the IPv6 address", 0},
        {"tcp://::1:7000", "an IPv6 address goes in brackets ([::1]:PORT)", 0},
        {"tcp://[hall]:7000", "not an IPv6 address in brackets: [hall]", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QString error;
        const auto address = parse_network_name(row.name, &error);
        EXPECT_EQ(address.has_value(), row.port != 0);
        EXPECT_EQ(address ? address->host : error, row.host_or_error);
        EXPECT_EQ(address ? std::pair(int(address->port), address->rfc2217) : std::pair(0, false), std::pair(row.port, row.rfc2217));
        // The command line's check gives the same reason, after the name.
        EXPECT_EQ(port_name_problem(row.name), row.port ? QString() : QString(row.name) + ": " + row.host_or_error);
    }
    PortMap map;
    map.lines[1] = "rfc2217://hall:3001";
    for (const auto& [name, path] : {std::pair{"COM1", "/dev/ttyS0"}, {"com2", "rfc2217://hall:3001"}, {" COM5 ", "COM5"}})
        EXPECT_EQ(resolve_port(name, map).path, path) << name;
    EXPECT_EQ(port_name_problem("COM3") + port_name_problem("/dev/ttyUSB0"), "");
    EXPECT_EQ(port_name_problem("ttyUSB0"), "not a port (COM1 to COM4, a device path or a network address): ttyUSB0");
}

TEST(PortResolver, EverySpellingOfOneServerIsOnePort) {
    const std::pair<const char*, const char*> keys[] = {
        {"127.0.0.1", "127.0.0.1:7"}, {"127.0.1.1", "127.0.0.1:7"}, {"::1", "127.0.0.1:7"},
        {"::ffff:127.0.0.1", "127.0.0.1:7"}, {"0.0.0.0", "127.0.0.1:7"}, {"::ffff:10.0.0.5", "10.0.0.5:7"},
        {"fe80::1", "fe80::1:7"},
    };
    for (const auto& [address, key] : keys) EXPECT_EQ(address_key(QHostAddress(address), 7), key) << address;

    // localhost answers with both loopback addresses; hall is not known.
    int lookups = 0;
    const HostLookup lookup = [&](const QString& host) {
        ++lookups;
        return host == "localhost" ? std::vector<QHostAddress>{QHostAddress("::1"), QHostAddress("127.0.0.1")}
                                   : std::vector<QHostAddress>{};
    };
    auto identity = [&](const char* name) { return identify_port(resolve_port(name, {}), QDeadlineTimer(5000), lookup); };
    const PortIdentity server = identity("tcp://127.0.0.1:3001");
    for (const char* alias : {"rfc2217://localhost:3001", "RFC2217://[::ffff:127.0.0.1]:3001/", "tcp://127.0.0.1:3001/"})
        EXPECT_TRUE(server.same_port(identity(alias))) << alias;
    EXPECT_FALSE(server.same_port(identity("tcp://127.0.0.1:3002")));
    // A host that cannot be looked up is known by its name.
    EXPECT_TRUE(identity("tcp://Hall:4001").same_port(identity("rfc2217://hall:4001/")));
    EXPECT_EQ(lookups, 3);  // literal addresses are not looked up
}

}  // namespace
}  // namespace halvern
