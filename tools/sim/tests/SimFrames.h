#pragma once
// Request and response frames of the three protocols, built independently of the
// instrument's own encoder, for the virtual instrument's tests.
#include "SimInstrument.h"
#include "TestPrinters.h"
#include "comm/Checksums.h"

#include <QByteArray>

namespace pmx::sim {
inline void PrintTo(Protocol p, std::ostream* os) {
    *os << protocolName(p).toStdString();
}
} // namespace pmx::sim

namespace pmx::sim::test {

inline QByteArray korvanRequest(int inst, char command, const QByteArray& item,
                                const QByteArray& data = {}) {
    const QByteArray body = QByteArray(1, char(inst + 0x20)) + ' ' + command + item + data + '\x03';
    return '\x02' + body + checksum::hex2(checksum::bcc(body));
}

inline QByteArray korvanResponse(char lead, const QByteArray& body) {
    const QByteArray b = body + '\x03';
    return QByteArray(1, lead) + b + checksum::hex2(checksum::bcc(b));
}

// A Modbus frame from its hexadecimal message (address, function, data) in either protocol.
inline QByteArray modbusFrame(Protocol p, const char* hex) {
    const QByteArray adu = QByteArray::fromHex(hex);
    if (p == Protocol::ModbusAscii)
        return ':' + adu.toHex().toUpper() + checksum::hex2(checksum::lrc(adu)) + "\r\n";
    const std::uint16_t crc = checksum::crc16(adu);
    return adu + char(crc & 0xFF) + char(crc >> 8);
}

} // namespace pmx::sim::test
