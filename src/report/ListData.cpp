#include "report/ListData.h"

#include "text/ValueText.h"

namespace pmx {

QString ListValue::toText() const {
    if (isText())
        return std::get<QString>(m_value);
    return QString::number(std::get<qint16>(m_value));
}

ListValue listValue(qint16 value, bool hex) {
    if (!hex)
        return ListValue::fromNumber(value);
    return ListValue::fromText(formatValue(value, true));
}

void fillListArrays(const ItemTable& table, bool hex, ListArrays& lists) {
    for (int i = 0; i < kItemCount; ++i) {
        lists.listed[i] = !ItemTable::isUndefinedName(table.names[i]);
        lists.names[i] = table.names[i];
        lists.values[i] = listValue(table.values[i], hex);
        lists.units[i].clear();
    }
}

} // namespace pmx
