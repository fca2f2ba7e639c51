#pragma once
#include <QByteArray>
#include <cstdint>
#include <optional>

namespace pmx::checksum {

// KORVAN BCC: low eight bits of the sum of the bytes given (address through ETX).
std::uint8_t bcc(const QByteArray& bytes);
// Modbus ASCII LRC: two's complement of the 8-bit sum of the binary message bytes
// (address, function, data), i.e. over the decoded byte values, not the hex characters.
std::uint8_t lrc(const QByteArray& bytes);
// Modbus RTU CRC-16 (polynomial A001h reflected, initial FFFFh). On the wire the
// low-order byte goes first.
std::uint16_t crc16(const QByteArray& bytes);

// Two upper-case hex digits of a byte.
QByteArray hex2(std::uint8_t value);
// Value of one hex digit in either case; -1 for any other character.
int hexDigitValue(char c);
// Whole pairs of hex digits (either case) to bytes; nullopt otherwise.
std::optional<QByteArray> decodeHexPairs(const QByteArray& hex);

} // namespace pmx::checksum
