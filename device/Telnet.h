#pragma once
// Telnet (RFC 854/855) as a network line needs it, with the COM port control option of
// RFC 2217: the bytes a client sends to set up a remote UART, and a decoder that splits what
// a server sends into data and commands. Pure byte work, no sockets.

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace halvern::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

// COM-PORT-OPTION commands, client to server; a server answers command c with c + 100.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kStopSizeOne = 1;
inline constexpr std::uint8_t kControlNoFlowControl = 1;
inline constexpr std::uint8_t kPurgeReceiveBuffer = 1;

// Data as it goes on the wire: every 0xFF doubled.
QByteArray escape(const QByteArray& data);

// IAC verb option, for verb kWill, kWont, kDo or kDont.
QByteArray negotiation(std::uint8_t verb, std::uint8_t option);

// IAC SB COM-PORT-OPTION command value IAC SE, with 0xFF in the value doubled.
QByteArray com_port(std::uint8_t command, const QByteArray& value);
QByteArray set_baud_rate(std::uint32_t baud_rate);  // four bytes, big-endian
QByteArray set_byte(std::uint8_t command, std::uint8_t value);

// What the client says first: it will use COM port control, and asks for an 8-bit clean
// stream both ways (binary) without go-aheads.
QByteArray client_greeting();

// The serial settings of an open: baud rate, 8 data bits, no parity, one stop bit, no flow
// control, in this order.
QByteArray line_settings(std::uint32_t baud_rate);

// One thing a server said besides data.
struct Command {
    std::uint8_t verb = 0;     // kWill, kWont, kDo, kDont, or kSb for a subnegotiation
    std::uint8_t option = 0;   // the option negotiated or subnegotiated
    QByteArray parameters;     // a subnegotiation's bytes after the option, unescaped
    bool operator==(const Command&) const = default;
};

// Splits the server's stream into data and commands. Input may be cut anywhere, even inside
// an IAC sequence; the rest waits for the next feed.
class Decoder {
public:
    // Appends the data bytes of input to data and the commands to commands.
    void feed(const QByteArray& input, QByteArray& data, std::vector<Command>& commands);

private:
    enum class State { kData, kIac, kVerb, kSbOption, kSb, kSbIac };
    State state_ = State::kData;
    std::uint8_t verb_ = 0;
    Command sub_;
};

// The answer a client owes a server's negotiation, or an empty array when it owes none. The
// client wants COM port control, binary both ways and suppressed go-aheads, and refuses
// everything else. Agreements it asked for itself are not answered again, so no loop arises.
class Negotiator {
public:
    QByteArray answer(const Command& command);
    // Whether the server agreed to COM port control (DO COM-PORT-OPTION) or refused it.
    bool com_port_agreed() const { return com_port_ == Agreement::kYes; }
    bool com_port_refused() const { return com_port_ == Agreement::kNo; }
    // Whether the server, as it last said, refuses binary in either direction (WONT BINARY,
    // DONT BINARY): then the stream is 7-bit text with CR NUL, and cannot carry frames.
    bool binary_refused() const { return server_binary_refused_ || client_binary_refused_; }

private:
    enum class Agreement { kAsked, kYes, kNo };
    Agreement com_port_ = Agreement::kAsked;
    bool server_binary_refused_ = false;
    bool client_binary_refused_ = false;
    // Options already answered, one bit per option and verb kind, so a repeat goes unanswered.
    std::vector<std::uint8_t> answered_ = std::vector<std::uint8_t>(256, 0);
};

}  // namespace halvern::telnet
