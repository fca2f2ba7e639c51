#include "transfer/Sequences.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "ui/strings/StringTable.h"
#include <algorithm>

namespace pmx {

namespace {

// Outcomes of one exchange besides 0 and the message ids.
constexpr int kUnconfirmed = -1; // a Modbus broadcast write: sent, never answered
constexpr int kLost = -2;        // the device went away

// One exchange for item i; returns 0, a message id or one of the outcomes above, and
// stores a read value.
int exchange(TransferContext& ctx, int i, bool write) {
    qint16 stAdr = ctx.InstNo;
    QByteArray subadr;
    QByteArray commod = write ? QByteArrayLiteral("06") : QByteArrayLiteral("03");
    QByteArray commNo = itemAddressText(i).toLatin1();
    QByteArray commdata = write ? itemDataText(ctx.table.ItemData[i]).toLatin1() : QByteArray();
    qint16 retn = 3;
    const QByteArray sentCode = commod;
    const QByteArray response = Sendcomm(ctx.com, stAdr, subadr, commod, commNo, commdata, retn);
    if (ctx.com.deviceLost())
        return kLost;
    if (write && isModbusBroadcast(ctx.com.ProtocolNo, ctx.InstNo))
        return kUnconfirmed;
    int result = classifyResponse(response, ctx.com.ProtocolNo, sentCode);
    if (result == 0 && !write) {
        // ReadDataSet: a data field that is not four hex digits is not stored as a guess.
        if (!ReadDataSet(ctx.com, ctx.table, response, i))
            result = 103;
    }
    return result;
}

// Returns false when the sequence must stop (the device went away).
bool record(TransferContext& ctx, TransferResult& out, int i, int result) {
    if (result == kLost) {
        if (!out.lost)
            ctx.view.connectionLost(ctx.com.lostDevice());
        out.lost = true;
        return false;
    }
    if (result == kUnconfirmed) {
        out.unconfirmed.append(i);
    } else if (result == 0) {
        out.good.append(i);
    } else {
        out.failed.append(i);
        out.failedMessage.append(result);
        ctx.view.showError(result, i);
    }
    return true;
}

// A device already lost before the sequence began stops it the same way.
bool lostBeforeStart(TransferContext& ctx, TransferResult& out) {
    if (!ctx.com.deviceLost())
        return false;
    ctx.view.connectionLost(ctx.com.lostDevice());
    out.lost = true;
    return true;
}

void reportBroadcast(TransferContext& ctx, const TransferResult& out) {
    if (!out.unconfirmed.isEmpty())
        ctx.view.notice(strings::text(204).arg(out.unconfirmed.size()));
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
        if (!visit(i))
            return false;
        ctx.view.progressStep();
    }
    return true;
}

TransferResult ReadAllItems(TransferContext& ctx) {
    TransferResult out;
    if (lostBeforeStart(ctx, out))
        return out;
    if (isModbusBroadcast(ctx.com.ProtocolNo, ctx.InstNo)) {
        // Nobody answers station 0: asking would only fail every item after a time-out.
        out.readsImpossible = true;
        ctx.view.notice(strings::text(203));
        return out;
    }
    ctx.view.progressStart();
    const bool done = everyAddress(ctx, out, [&](int i) {
        return !ctx.table.isSelected(i) || record(ctx, out, i, exchange(ctx, i, false));
    });
    if (done || out.lost)
        ctx.view.progressEnd();
    return out;
}

TransferResult WriteAllItems(TransferContext& ctx) {
    TransferResult out;
    if (lostBeforeStart(ctx, out))
        return out;
    ctx.view.progressStart();
    // The leading items need both copies of the selection; no events run between them.
    for (int i : kLeadingItems) {
        if (ctx.table.isSelected(i) && ctx.view.selectionBoxTicked(i) &&
            !record(ctx, out, i, exchange(ctx, i, true))) {
            ctx.view.progressEnd();
            return out;
        }
    }
    const bool done = everyAddress(ctx, out, [&](int i) {
        // Item 0000h is never written by the write of all items.
        if (i == 0 || isLeading(i) || !ctx.table.isSelected(i))
            return true;
        return record(ctx, out, i, exchange(ctx, i, true));
    });
    if (done || out.lost)
        ctx.view.progressEnd();
    reportBroadcast(ctx, out);
    return out;
}

TransferResult WriteItem(TransferContext& ctx) {
    TransferResult out;
    const int i = ctx.table.CurItem;
    if (i < 0 || i >= kItemCount || !ctx.table.isSelected(i))
        return out;
    if (lostBeforeStart(ctx, out))
        return out;
    record(ctx, out, i, exchange(ctx, i, true));
    return out;
}

} // namespace pmx
