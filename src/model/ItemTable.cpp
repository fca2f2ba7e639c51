#include "model/ItemTable.h"

namespace pmx {

QString itemAddressText(int index) {
    return (QStringLiteral("0000") + QString::number(index, 16).toUpper()).right(4);
}

QString itemDataText(qint16 value) {
    return (QStringLiteral("0000") + QString::number(quint16(value), 16).toUpper()).right(4);
}

} // namespace pmx
