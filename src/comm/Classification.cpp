#include "comm/Classification.h"

#include "comm/Checksums.h"

namespace pmx {

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
