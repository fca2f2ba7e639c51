#pragma once
#include <QByteArray>
#include <optional>

namespace pmx {

// The operator's message ids of a failed command (each codec maps its outcomes to them).
enum ResponseClass : int {
    kResponseOk = 0,
    kResponseNak = 100,       // negative acknowledgement
    kResponseChecksum = 101,  // checksum error
    kResponseNone = 102,      // no response (KORVAN)
    kResponseCommError = 103, // communication error or negative acknowledgement (Modbus)
};

// A data field of exactly four hex digits (either case) as a 16-bit two's complement
// value; anything else is nullopt, so the caller keeps the old value instead of storing
// a guess.
std::optional<qint16> decodeDataField(const QByteArray& field);

} // namespace pmx
