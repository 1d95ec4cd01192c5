// Telnet with COM port control, byte for byte: what the client sends, how the server's
// stream splits into data and commands, and which negotiations the client answers.

#include "device/Telnet.h"

#include <gtest/gtest.h>

namespace halvern::telnet {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
std::string show(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

TEST(Telnet, WhatTheClientSends) {
    const std::pair<QByteArray, const char*> cases[] = {
        {escape(hex("")), ""},
        {escape(hex("41 FF 42")), "41 FF FF 42"},
        {escape(hex("00 0D 0A F0 FA")), "00 0D 0A F0 FA"},  // only IAC is special in binary mode
        {client_greeting(), "FF FB 2C FF FB 00 FF FD 00 FF FD 03"},
        {set_baud_rate(9600), "FF FA 2C 01 00 00 25 80 FF F0"},
        // A value byte 0xFF is doubled inside the subnegotiation as well.
        {set_baud_rate(65535), "FF FA 2C 01 00 00 FF FF FF FF FF F0"},
        {line_settings(38400), "FF FA 2C 01 00 00 96 00 FF F0 "  // baud rate
                               "FF FA 2C 02 08 FF F0 "           // 8 data bits
                               "FF FA 2C 03 01 FF F0 "           // no parity
                               "FF FA 2C 04 01 FF F0 "           // one stop bit
                               "FF FA 2C 05 01 FF F0"},          // no flow control
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(show(got), show(hex(expected)));
}

TEST(Telnet, DecoderSplitsDataFromCommands) {
    struct Case {
        const char* input;
        const char* data;
        std::vector<Command> commands;
    };
    const Case cases[] = {
        {"41 42 0D 00", "41 42 0D 00", {}},
        {"41 FF FF 42", "41 FF 42", {}},
        {"FF FD 2C 41", "41", {{kDo, 44, {}}}},
        {"FF FE 2C FF FB 00 FF FC 01", "", {{kDont, 44, {}}, {kWill, 0, {}}, {kWont, 1, {}}}},
        // The server's answer to SET-BAUDRATE, then data.
        {"FF FA 2C 65 00 00 96 00 FF F0 55", "55", {{kSb, 44, hex("65 00 00 96 00")}}},
        {"FF FA 2C 65 00 00 FF FF FF FF FF F0", "", {{kSb, 44, hex("65 00 00 FF FF")}}},
        // Two-byte commands (NOP, go-ahead, data mark) carry nothing.
        {"41 FF F1 42 FF F9 FF F2 43", "41 42 43", {}},
        // A subnegotiation cut short by another command ends there.
        {"FF FA 2C 6A 01 FF FB 01 44", "44", {{kSb, 44, hex("6A 01")}, {kWill, 1, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const QByteArray input = hex(c.input);
        // Whole, and cut after every byte: the same result.
        for (int chunk : {static_cast<int>(input.size()), 1}) {
            Decoder decoder;
            QByteArray data;
            std::vector<Command> commands;
            for (qsizetype at = 0; at < input.size(); at += chunk) decoder.feed(input.mid(at, chunk), data, commands);
            EXPECT_EQ(show(data), show(hex(c.data))) << "chunk " << chunk;
            EXPECT_EQ(commands, c.commands) << "chunk " << chunk;
        }
    }
}

TEST(Telnet, DecoderBoundsAnEndlessSubnegotiation) {
    Decoder decoder;
    QByteArray data;
    std::vector<Command> commands;
    decoder.feed(hex("FF FA 2C") + QByteArray(100000, '\x01') + hex("FF F0 41"), data, commands);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].parameters, QByteArray(64, '\x01'));
    EXPECT_EQ(show(data), "41");
}

TEST(Telnet, NegotiatorAnswersOnceAndOnlyWhatItOwes) {
    // One negotiator through a whole server conversation, in order.
    const std::pair<Command, const char*> steps[] = {
        {{kDo, kOptionComPort, {}}, ""},              // agrees to what the client offered
        {{kWill, kOptionBinary, {}}, ""},             // agrees to what the client asked for
        {{kDo, kOptionBinary, {}}, ""},
        {{kWill, kOptionSuppressGoAhead, {}}, ""},
        {{kDo, kOptionSuppressGoAhead, {}}, "FF FB 03"},
        {{kDo, kOptionSuppressGoAhead, {}}, ""},      // said once
        {{kDo, 1, {}}, "FF FC 01"},                   // echo: refused
        {{kDo, 1, {}}, ""},
        {{kWill, 1, {}}, "FF FE 01"},
        {{kWont, 5, {}}, ""},
        {{kSb, kOptionComPort, hex("6A 00")}, ""},    // modem-line control refused: nothing owed
    };
    Negotiator negotiator;
    EXPECT_FALSE(negotiator.com_port_agreed());
    for (const auto& [command, answer] : steps) {
        SCOPED_TRACE(std::to_string(command.verb) + " " + std::to_string(command.option));
        EXPECT_EQ(show(negotiator.answer(command)), show(hex(answer)));
    }
    EXPECT_TRUE(negotiator.com_port_agreed());
}

}  // namespace
}  // namespace halvern::telnet
