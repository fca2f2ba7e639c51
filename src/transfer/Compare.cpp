#include "transfer/Compare.h"
#include "comm/Classification.h"
#include "text/StringTable.h"
#include <algorithm>

namespace pmx {

qsizetype Comparison::count(ItemComparison::Outcome outcome) const {
    return std::count_if(items.begin(), items.end(),
                         [outcome](const ItemComparison& c) { return c.outcome == outcome; });
}

QList<int> Comparison::differing() const {
    QList<int> out;
    for (const ItemComparison& c : items)
        if (c.outcome == ItemComparison::Outcome::Different)
            out << c.item;
    return out;
}

QString Comparison::countsText() const {
    return strings::text(TextId::CompareCounts)
        .arg(count(ItemComparison::Outcome::Different))
        .arg(items.size())
        .arg(count(ItemComparison::Outcome::Unreadable));
}

Comparison compareWithInstrument(TransferContext& ctx) {
    ItemTable instrument = ctx.table;
    TransferContext readCtx{instrument, ctx.com, ctx.view};
    Comparison out;
    out.read = readAllItems(readCtx);
    for (int i = 0; i < kItemCount; ++i) {
        if (!ctx.table.isSelected(i))
            continue;
        ItemComparison c;
        c.item = i;
        c.tableValue = ctx.table.values[i];
        c.instrumentValue = instrument.values[i];
        const qsizetype failed = out.read.failed.indexOf(i);
        if (failed >= 0) {
            c.outcome = ItemComparison::Outcome::Unreadable;
            c.messageId = out.read.failedMessage[failed];
        } else if (!out.read.good.contains(i)) {
            // Never asked: the read stopped, the device went away, or nobody answers.
            c.outcome = ItemComparison::Outcome::Unreadable;
            c.messageId = kResponseNone;
        } else {
            c.outcome = c.tableValue == c.instrumentValue ? ItemComparison::Outcome::Equal
                                                          : ItemComparison::Outcome::Different;
        }
        out.items << c;
    }
    return out;
}

} // namespace pmx
