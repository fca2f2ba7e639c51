#pragma once
#include <QString>
#include <array>

namespace pmx {

constexpr int kItemCount = 128;
constexpr int kRowsPerPage = 32;

// Whether an item takes part in transfers, as stored in files (0, 1, 2). Only Selected
// selects: Partial is the third state of a check box, which files may hold.
enum class Selection : qint16 { Cleared = 0, Selected = 1, Partial = 2 };

// The program's one data model: the unit model name and, per command address
// 0000h..007Fh, a name, a 16-bit value and a selection. The main window owns it; the
// sequences, files and dialogs it hands it to read and write it directly.
struct ItemTable {
    QString modelName;
    std::array<QString, kItemCount> names;
    std::array<qint16, kItemCount> values{};
    std::array<Selection, kItemCount> selections{};
    qint16 currentItem = 0;   // the item the value dialog edits and a single write sends
    bool englishNames = true; // item names from the English block of a model definition

    bool isSelected(int i) const { return selections[i] == Selection::Selected; }
    bool isUndefined(int i) const { return isUndefinedName(names[i]); }

    // An item is undefined when its name ends in "----"; shorter names never are.
    static bool isUndefinedName(const QString& name) {
        return name.endsWith(QStringLiteral("----"));
    }
};

// "0044" for index 68: four upper-case hex digits, rightmost four of "0000"+hex.
QString itemAddressText(int index);
// "FFFF" for -1: four upper-case hex digits of the 16-bit two's complement.
QString itemDataText(qint16 value);

} // namespace pmx
