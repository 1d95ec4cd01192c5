#pragma once
// S3 records of a byte string, 16 data bytes a line, with an S7 end record: the lines a
// release's NAME.mot files hold.

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace halvern::test {

inline QByteArray s3_records(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    QByteArray text;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, data.size() - at);
        std::vector<std::uint8_t> rec{static_cast<std::uint8_t>(n + 5)};
        const std::uint32_t a = address + static_cast<std::uint32_t>(at);
        for (int k = 3; k >= 0; --k) rec.push_back(static_cast<std::uint8_t>(a >> (8 * k)));
        rec.insert(rec.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        unsigned sum = 0;
        for (std::uint8_t b : rec) sum += b;
        rec.push_back(static_cast<std::uint8_t>(~sum));
        text += "S3" + QByteArray(reinterpret_cast<const char*>(rec.data()), static_cast<qsizetype>(rec.size())).toHex().toUpper() +
                "\r\n";
    }
    return text + "S70500000000FA\r\n";
}

// One record: "S", its type, the byte count, the given address and data (hex text) and the
// checksum: s_record('1', "0000AABB") is "S1050000AABB9B".
inline QByteArray s_record(char type, const QByteArray& address_and_data) {
    QByteArray bytes = QByteArray::fromHex(address_and_data);
    bytes.prepend(static_cast<char>(bytes.size() + 1));
    unsigned sum = 0;
    for (char b : bytes) sum += static_cast<std::uint8_t>(b);
    bytes.append(static_cast<char>(~sum & 0xFF));
    return QByteArray("S") + type + bytes.toHex().toUpper();
}

// Deterministic bytes that differ from their neighbours and from FF.
inline std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return out;
}

}  // namespace halvern::test
