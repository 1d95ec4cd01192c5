// The Telnet decoder and negotiator against a server's stream, cut at a point the input
// chooses. Whatever arrives: no more data out than bytes in, subnegotiations bounded, the same
// result however the stream is cut, every answer one three-byte negotiation; and data escaped
// by the client's own rule comes back unchanged.

#include "device/Telnet.h"

#include <cstdint>
#include <cstdlib>

using namespace halvern::telnet;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const qsizetype cut = input.isEmpty() ? 0 : data[0] % (input.size() + 1);

    Decoder whole, pieces;
    QByteArray whole_data, pieces_data;
    std::vector<Command> whole_commands, pieces_commands;
    whole.feed(input, whole_data, whole_commands);
    pieces.feed(input.left(cut), pieces_data, pieces_commands);
    pieces.feed(input.mid(cut), pieces_data, pieces_commands);
    require(whole_data == pieces_data);
    require(whole_commands == pieces_commands);
    require(whole_data.size() <= input.size());

    Negotiator negotiator;
    for (const Command& command : whole_commands) {
        require(command.parameters.size() <= 64);
        const QByteArray answer = negotiator.answer(command);
        require(answer.isEmpty() || (answer.size() == 3 && static_cast<std::uint8_t>(answer[0]) == kIac));
    }

    Decoder round_trip;
    QByteArray back;
    std::vector<Command> none;
    round_trip.feed(escape(input), back, none);
    require(back == input && none.empty());
    return 0;
}
