#pragma once
#include "transfer/Sequences.h"

namespace pmx {

// One selected item of a comparison between the item table and the instrument.
struct ItemComparison {
    enum class Outcome { Equal, Different, Unreadable };
    int item = 0;
    Outcome outcome = Outcome::Equal;
    qint16 tableValue = 0;
    qint16 instrumentValue = 0; // meaningful unless Unreadable
    int messageId = 0;          // Unreadable: why (a ResponseClass, the id of its text)
};

struct Comparison {
    QList<ItemComparison> items; // the selected items, ascending
    TransferResult read;         // the read that filled the instrument's copy

    qsizetype count(ItemComparison::Outcome outcome) const;
    // The differing items, ascending: what "write the differences" sends.
    QList<int> differing() const;
    // "12 of 58 items differ; 1 could not be read"
    QString countsText() const;
};

// Reads every selected item into a copy of the table with the read of all items (same
// progress, failures and stop), leaving ctx.table untouched, and compares. An item the
// read did not reach (a stop, a lost device, Modbus station 0) is Unreadable.
Comparison compareWithInstrument(TransferContext& ctx);

} // namespace pmx
