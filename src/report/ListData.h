#pragma once
#include "model/ItemTable.h"
#include <QString>
#include <array>
#include <variant>

namespace pmx {

// One formatted value of the list: the 16-bit number itself in DEC mode, a text such as
// "1F4h" in HEX mode. The kind matters to the CSV export, which quotes texts only.
class ListValue {
  public:
    ListValue() = default;
    static ListValue fromNumber(qint16 value) { return ListValue(value); }
    static ListValue fromText(const QString& text) { return ListValue(text); }

    bool isText() const { return std::holds_alternative<QString>(m_value); }
    qint16 number() const { return isText() ? 0 : std::get<qint16>(m_value); }
    // Signed decimal digits for a number, the text itself otherwise.
    QString toText() const;

    bool operator==(const ListValue&) const = default;

  private:
    explicit ListValue(qint16 v) : m_value(v) {}
    explicit ListValue(const QString& t) : m_value(t) {}
    std::variant<qint16, QString> m_value{qint16(0)};
};

// The list shared by the all-data report and the CSV export, one entry per item.
// Refilled by fillListArrays before every report or export; kept until the next one.
struct ListArrays {
    std::array<bool, kItemCount> listed{};
    std::array<QString, kItemCount> names;
    std::array<ListValue, kItemCount> values;
    std::array<QString, kItemCount> units; // no source of units exists: always empty
};

// The list form of a value: the number itself in DEC mode, formatValue's text in HEX mode.
ListValue listValue(qint16 value, bool hex);

// Fills the list from the item table with the DEC/HEX choice of this moment. An item is
// listed unless its name ends in "----"; unselected items are listed too.
void fillListArrays(const ItemTable& table, bool hex, ListArrays& lists);

} // namespace pmx
