#pragma once
// Bytes and texts the virtual instrument's protocols share: control characters, frame
// limits, hexadecimal fields and the printable form of a request for the log.
#include "comm/Checksums.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace pmx::sim::detail {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;
inline constexpr char kEsc = 0x1B;

// Longest KORVAN text between STX and ETX we wait for; a write needs 11.
inline constexpr int kKorvanMaxContent = 32;
// Modbus ASCII: 513 characters at most from ':' through LF.
inline constexpr int kAsciiMaxFrame = 513;
// Modbus RTU: 256 bytes at most per frame.
inline constexpr int kRtuMaxFrame = 256;
// Modbus: every station carries out a request for station 0 and none answers it.
inline constexpr int kBroadcastStation = 0;

// The KORVAN checksum, summed here on its own rather than with the program's checksum
// code: a wrong sum on the program's side is then refused by the instrument (ESC) and its
// answers refused by the program, never matched by the same wrong sum.
inline int korvanSum(const QByteArray& covered) {
    unsigned sum = 0;
    for (char c : covered)
        sum += std::uint8_t(c);
    return int(sum & 0xFFu);
}
inline QByteArray korvanBcc(const QByteArray& covered) {
    return QByteArray::number(korvanSum(covered), 16).rightJustified(2, '0').toUpper();
}

inline QByteArray hex4(std::uint16_t value) {
    return checksum::hex2(std::uint8_t(value >> 8)) + checksum::hex2(std::uint8_t(value));
}

// Value of a text of hexadecimal digits (either case), or -1 when any character is not one.
inline long parseHex(const QByteArray& text) {
    if (text.isEmpty())
        return -1;
    long v = 0;
    for (char c : text) {
        const int d = checksum::hexDigitValue(c);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

inline QString hex4s(std::uint16_t value) {
    return QString::fromLatin1(hex4(value));
}

inline QString hex2s(int value) {
    return QString::fromLatin1(checksum::hex2(std::uint8_t(value)));
}

// Printable form of request bytes for the log: characters 20h..7Eh as they are, others as <xx>.
inline QString printable(const QByteArray& bytes) {
    QString out;
    for (char c : bytes) {
        const auto u = std::uint8_t(c);
        if (u >= 0x20 && u < 0x7F && c != '<')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("<%1>").arg(hex2s(u));
    }
    return out;
}

} // namespace pmx::sim::detail
