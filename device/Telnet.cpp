#include "device/Telnet.h"

#include <initializer_list>

namespace halvern::telnet {

namespace {

// A subnegotiation longer than this is no COM port answer; the excess is dropped.
constexpr qsizetype kMaxParameters = 64;

char c(std::uint8_t b) { return static_cast<char>(b); }

QByteArray bytes(std::initializer_list<std::uint8_t> list) {
    QByteArray out;
    for (std::uint8_t b : list) out += c(b);
    return out;
}

}  // namespace

QByteArray escape(const QByteArray& data) {
    QByteArray out;
    out.reserve(data.size() + data.count(c(kIac)));
    for (char b : data) {
        out += b;
        if (b == c(kIac)) out += b;
    }
    return out;
}

QByteArray negotiation(std::uint8_t verb, std::uint8_t option) {
    return bytes({kIac, verb, option});
}

QByteArray com_port(std::uint8_t command, const QByteArray& value) {
    return bytes({kIac, kSb, kOptionComPort, command}) + escape(value) + bytes({kIac, kSe});
}

QByteArray set_baud_rate(std::uint32_t baud_rate) {
    return com_port(kSetBaudRate, bytes({static_cast<std::uint8_t>(baud_rate >> 24), static_cast<std::uint8_t>(baud_rate >> 16),
                                         static_cast<std::uint8_t>(baud_rate >> 8), static_cast<std::uint8_t>(baud_rate)}));
}

QByteArray set_byte(std::uint8_t command, std::uint8_t value) { return com_port(command, bytes({value})); }

QByteArray client_greeting() {
    return negotiation(kWill, kOptionComPort) + negotiation(kWill, kOptionBinary) + negotiation(kDo, kOptionBinary) +
           negotiation(kDo, kOptionSuppressGoAhead);
}

QByteArray line_settings(std::uint32_t baud_rate) {
    return set_baud_rate(baud_rate) + set_byte(kSetDataSize, 8) + set_byte(kSetParity, kParityNone) +
           set_byte(kSetStopSize, kStopSizeOne) + set_byte(kSetControl, kControlNoFlowControl);
}

void Decoder::feed(const QByteArray& input, QByteArray& data, std::vector<Command>& commands) {
    for (char ch : input) {
        const auto b = static_cast<std::uint8_t>(ch);
        switch (state_) {
        case State::kData:
            if (b == kIac) state_ = State::kIac;
            else data += ch;
            break;
        case State::kSbIac:
            if (b == kIac) {
                if (sub_.parameters.size() < kMaxParameters) sub_.parameters += ch;
                state_ = State::kSb;
                break;
            }
            // IAC SE ends the subnegotiation; any other command after IAC ends it as well and
            // is then taken as that command.
            commands.push_back(sub_);
            state_ = State::kIac;
            if (b == kSe) {
                state_ = State::kData;
                break;
            }
            [[fallthrough]];
        case State::kIac:
            if (b == kIac) {
                data += ch;
                state_ = State::kData;
            } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                verb_ = b;
                state_ = State::kVerb;
            } else if (b == kSb) {
                state_ = State::kSbOption;
            } else {
                state_ = State::kData;  // a two-byte command (NOP, go-ahead, data mark...): nothing to do
            }
            break;
        case State::kVerb:
            commands.push_back({verb_, b, {}});
            state_ = State::kData;
            break;
        case State::kSbOption:
            sub_ = {kSb, b, {}};
            state_ = State::kSb;
            break;
        case State::kSb:
            if (b == kIac) state_ = State::kSbIac;
            else if (sub_.parameters.size() < kMaxParameters) sub_.parameters += ch;
            break;
        }
    }
}

QByteArray Negotiator::answer(const Command& command) {
    const std::uint8_t option = command.option;
    const bool we_offered = option == kOptionComPort || option == kOptionBinary;          // our WILL
    const bool we_asked = option == kOptionBinary || option == kOptionSuppressGoAhead;    // our DO
    auto once = [&](std::uint8_t verb) -> QByteArray {
        const std::uint8_t bit = verb == kWill || verb == kWont ? 1 : 2;
        if (answered_[option] & bit) return {};
        answered_[option] |= bit;
        return negotiation(verb, option);
    };
    if (option == kOptionBinary && (command.verb == kWill || command.verb == kWont))
        server_binary_refused_ = command.verb == kWont;
    if (option == kOptionBinary && (command.verb == kDo || command.verb == kDont))
        client_binary_refused_ = command.verb == kDont;
    switch (command.verb) {
    case kDo:
        if (option == kOptionComPort) com_port_ = Agreement::kYes;
        if (we_offered) return {};
        return once(option == kOptionSuppressGoAhead ? kWill : kWont);
    case kDont:
        if (option == kOptionComPort) com_port_ = Agreement::kNo;
        return {};
    case kWill:
        if (we_asked) return {};
        return once(kDont);
    default:
        return {};  // WONT, or a subnegotiation: nothing owed
    }
}

}  // namespace halvern::telnet
