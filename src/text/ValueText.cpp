#include "text/ValueText.h"

namespace pmx {

QString formatValue(qint16 value, bool hex) {
    if (hex)
        return QString::number(quint16(value), 16).toUpper() + QLatin1Char('h');
    return QString::number(value);
}

} // namespace pmx
