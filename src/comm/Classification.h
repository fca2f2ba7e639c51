#pragma once
#include <QByteArray>
#include <optional>

namespace pmx {

// Outcome of one command as the read and write sequences report it.
enum ResponseClass : int {
    kResponseOk = 0,
    kResponseNak = 100,       // negative acknowledgement
    kResponseChecksum = 101,  // checksum error
    kResponseNone = 102,      // no response (KORVAN)
    kResponseCommError = 103, // communication error or negative acknowledgement (Modbus)
};

// KORVAN (protocol 0): by the first character: ACK 0, NAK 100, ESC 101, anything else or
// empty 102. Any other protocol: characters 4 and 5 must equal the command code sent
// ("03"/"06"), else 103 (a text shorter than five characters included).
int classifyResponse(const QByteArray& text, qint16 protocolNo, const QByteArray& command);

// Under Modbus, instrument number 0 is the broadcast address: every instrument on the
// line carries out a write to it and none answers, so reads cannot be made there.
bool isModbusBroadcast(qint16 protocolNo, qint16 instrumentNo);

// A data field of exactly four hex digits (either case) as a 16-bit two's complement
// value; anything else is nullopt, so the caller keeps the old value instead of storing
// a guess.
std::optional<qint16> decodeDataField(const QByteArray& field);

} // namespace pmx
