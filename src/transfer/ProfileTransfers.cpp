#include "transfer/ProfileTransfers.h"

#include "text/StringTable.h"

namespace pmx {

QList<int> itemsLeftOutOfWrite(const ItemTable& table, const InstrumentProfile* profile) {
    QList<int> out;
    if (!profile)
        return out;
    // 0000h is never written anyway; counting it would tell the operator of a loss that
    // the profile did not cause.
    for (int i = 1; i < kItemCount; ++i)
        if (table.isSelected(i) && profile->leftOutOfWrites(i))
            out << i;
    return out;
}

TransferResult writeSettingItems(TransferContext& ctx, const InstrumentProfile* profile,
                                 int* leftOut) {
    const QList<int> skipped = itemsLeftOutOfWrite(ctx.table, profile);
    if (leftOut)
        *leftOut = int(skipped.size());
    if (skipped.isEmpty())
        return writeAllItems(ctx);
    QList<int> items;
    for (int i = 0; i < kItemCount; ++i)
        if (!skipped.contains(i))
            items << i;
    // The listed write keeps the order and rules of the write of all items.
    return writeListedItems(ctx, items);
}

TransferResult writeListedSettingItems(TransferContext& ctx, const QList<int>& items,
                                       const InstrumentProfile* profile, int* leftOut) {
    QList<int> kept;
    int skipped = 0;
    for (int i : items) {
        if (profile && profile->leftOutOfWrites(i))
            ++skipped;
        else
            kept << i;
    }
    if (leftOut)
        *leftOut = skipped;
    return writeListedItems(ctx, kept);
}

Comparison compareSettingItems(TransferContext& ctx, const InstrumentProfile* profile,
                               bool includeLive, int* leftOut) {
    int skipped = 0;
    if (!profile || includeLive) {
        if (leftOut)
            *leftOut = 0;
        return compareWithInstrument(ctx);
    }
    // A copy with the live and read-only items cleared: the read and the comparison pass
    // them by, and the table itself is left as it is. Read-only items go too: no write
    // sends them, so a comparison after a write could never find them equal.
    ItemTable settings = ctx.table;
    for (int i = 0; i < kItemCount; ++i) {
        if (settings.isSelected(i) && profile->leftOutOfWrites(i)) {
            settings.selections[i] = Selection::Cleared;
            ++skipped;
        }
    }
    if (leftOut)
        *leftOut = skipped;
    TransferContext settingsCtx{settings, ctx.com, ctx.view, ctx.verify};
    return compareWithInstrument(settingsCtx);
}

QString leftOutOfWriteText(int count) {
    return count > 0 ? strings::text(TextId::LeftOutOfWrite).arg(count) : QString();
}

QString leftOutOfCompareText(int count) {
    return count > 0 ? strings::text(TextId::LeftOutOfCompare).arg(count) : QString();
}

} // namespace pmx
