#include "comm/Classification.h"

#include "comm/Checksums.h"
#include "comm/Conditions.h"
#include "comm/Framing.h"

namespace pmx {

int classifyResponse(const QByteArray& text, qint16 protocolNo, const QByteArray& command) {
    if (protocolNo == kProtocolKorvan) {
        if (text.isEmpty())
            return kResponseNone;
        switch (text.at(0)) {
        case framing::kAck:
            return kResponseOk;
        case framing::kNak:
            return kResponseNak;
        case framing::kEsc:
            return kResponseChecksum;
        default:
            return kResponseNone;
        }
    }
    if (text.size() < 5)
        return kResponseCommError;
    return text.mid(3, 2) == command ? kResponseOk : kResponseCommError;
}

bool isModbusBroadcast(qint16 protocolNo, qint16 instrumentNo) {
    return instrumentNo == 0 &&
           (protocolNo == kProtocolModbusAscii || protocolNo == kProtocolModbusRtu);
}

std::optional<qint16> decodeDataField(const QByteArray& field) {
    if (field.size() != 4)
        return std::nullopt;
    quint16 v = 0;
    for (char c : field) {
        const int d = checksum::hexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        v = quint16((v << 4) | d);
    }
    return qint16(v);
}

} // namespace pmx
