#include "comm/Classification.h"

#include "comm/CommObject.h"

namespace pmx {

int classifyResponse(const QByteArray& text, qint16 protocolNo, const QByteArray& commod) {
    if (protocolNo == kProtocolKorvan) {
        if (text.isEmpty())
            return kResponseNone;
        switch (text.at(0)) {
        case '\x06':
            return kResponseOk;
        case '\x15':
            return kResponseNak;
        case '\x1B':
            return kResponseChecksum;
        default:
            return kResponseNone;
        }
    }
    if (text.size() < 5)
        return kResponseCommError;
    return text.mid(3, 2) == commod ? kResponseOk : kResponseCommError;
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
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return std::nullopt;
        v = quint16((v << 4) | d);
    }
    return qint16(v);
}

} // namespace pmx
