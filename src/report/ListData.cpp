#include "report/ListData.h"

namespace pmx {

QString ListValue::toText() const {
    if (isText())
        return std::get<QString>(m_value);
    return QString::number(std::get<qint16>(m_value));
}

ListValue FormatData(qint16 value, bool hex) {
    if (!hex)
        return ListValue::fromNumber(value);
    return ListValue::fromText(QString::number(quint16(value), 16).toUpper() + QLatin1Char('h'));
}

void SetListData(const ItemTable& table, bool hex, ListArrays& lists) {
    for (int i = 0; i < kItemCount; ++i) {
        lists.ListValid[i] = !ItemTable::isUndefinedName(table.ItemName[i]);
        lists.ListItem[i] = table.ItemName[i];
        lists.ListData[i] = FormatData(table.ItemData[i], hex);
        lists.ListUnit[i].clear();
    }
}

} // namespace pmx
