#include "transfer/Sequences.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include <algorithm>

namespace pmx {

namespace {

// One exchange for item i; returns 0 or the message id, stores a read value.
int exchange(TransferContext& ctx, int i, bool write) {
    qint16 stAdr = ctx.InstNo;
    QByteArray subadr;
    QByteArray commod = write ? QByteArrayLiteral("06") : QByteArrayLiteral("03");
    QByteArray commNo = itemAddressText(i).toLatin1();
    QByteArray commdata = write ? itemDataText(ctx.table.ItemData[i]).toLatin1() : QByteArray();
    qint16 retn = 3;
    const QByteArray sentCode = commod;
    const QByteArray response = Sendcomm(ctx.com, stAdr, subadr, commod, commNo, commdata, retn);
    int result = classifyResponse(response, ctx.com.ProtocolNo, sentCode);
    if (result == 0 && !write) {
        // ReadDataSet: a data field that is not four hex digits is not stored as a guess.
        if (!ReadDataSet(ctx.com, ctx.table, response, i))
            result = 103;
    }
    return result;
}

void record(TransferContext& ctx, TransferResult& out, int i, int result) {
    if (result == 0) {
        out.good.append(i);
    } else {
        out.failed.append(i);
        out.failedMessage.append(result);
        ctx.view.showError(result, i);
    }
}

bool isLeading(int i) {
    return std::find(std::begin(kLeadingItems), std::end(kLeadingItems), i) != std::end(kLeadingItems);
}

} // namespace

bool ReadDataSet(CommObject& com, ItemTable& table, const QByteArray& tt, int Com) {
    if (Com < 0 || Com >= kItemCount)
        return false;
    const std::optional<qint16> value = decodeDataField(com.ExtractData(tt, 1));
    if (!value)
        return false;
    table.ItemData[Com] = *value;
    return true;
}

// The pass over all 128 addresses that both whole-table transfers make: events run and
// the bar moves once per address, whether or not the item is sent. Returns false when
// the program is ending; the window is going away with it, so the bar is left alone.
template <typename Visit>
static bool everyAddress(TransferContext& ctx, TransferResult& out, Visit visit) {
    for (int i = 0; i < kItemCount; ++i) {
        ctx.view.processEvents();
        if (ctx.view.stopRequested()) {
            out.stopped = true;
            return false;
        }
        visit(i);
        ctx.view.progressStep();
    }
    return true;
}

TransferResult ReadAllItems(TransferContext& ctx) {
    TransferResult out;
    ctx.view.progressStart();
    const bool done = everyAddress(ctx, out, [&](int i) {
        if (ctx.table.isSelected(i))
            record(ctx, out, i, exchange(ctx, i, false));
    });
    if (done)
        ctx.view.progressEnd();
    return out;
}

TransferResult WriteAllItems(TransferContext& ctx) {
    TransferResult out;
    ctx.view.progressStart();
    // The leading items need both copies of the selection; no events run between them.
    for (int i : kLeadingItems) {
        if (ctx.table.isSelected(i) && ctx.view.selectionBoxTicked(i))
            record(ctx, out, i, exchange(ctx, i, true));
    }
    const bool done = everyAddress(ctx, out, [&](int i) {
        // Item 0000h is never written by the write of all items.
        if (i != 0 && !isLeading(i) && ctx.table.isSelected(i))
            record(ctx, out, i, exchange(ctx, i, true));
    });
    if (done)
        ctx.view.progressEnd();
    return out;
}

TransferResult WriteItem(TransferContext& ctx) {
    TransferResult out;
    const int i = ctx.table.CurItem;
    if (i < 0 || i >= kItemCount || !ctx.table.isSelected(i))
        return out;
    record(ctx, out, i, exchange(ctx, i, true));
    return out;
}

} // namespace pmx
