#pragma once
#include <QString>
#include <array>

namespace pmx {

constexpr int kItemCount = 128;
constexpr int kRowsPerPage = 32;

// The program's one data model: the unit model name and, per command address
// 0000h..007Fh, a name, a 16-bit value and a selection flag. Plain shared storage:
// windows, sequences and files read and write it directly.
struct ItemTable {
    QString ModelName;
    std::array<QString, kItemCount> ItemName;
    std::array<qint16, kItemCount> ItemData{};
    std::array<qint16, kItemCount> ItemSel{};
    qint16 CurItem = 0;
    bool LangEng = true;

    // Only the value 1 means selected; 2 (a tristate box) and anything else does not.
    bool isSelected(int i) const { return ItemSel[i] == 1; }
    bool isUndefined(int i) const { return isUndefinedName(ItemName[i]); }

    // An item is undefined when its name ends in "----"; shorter names never are.
    static bool isUndefinedName(const QString& name) { return name.endsWith(QStringLiteral("----")); }
};

// "0044" for index 68: four upper-case hex digits, rightmost four of "0000"+hex.
QString itemAddressText(int index);
// "FFFF" for -1: four upper-case hex digits of the 16-bit two's complement.
QString itemDataText(qint16 value);

} // namespace pmx
