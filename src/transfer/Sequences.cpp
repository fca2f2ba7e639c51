#include "transfer/Sequences.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "text/StringTable.h"
#include "transfer/BlockRead.h"
#include "transfer/ChangeRecording.h"
#include <QDir>

#include <algorithm>
#include <tuple>

namespace pmx {

namespace {

// One exchange for item i. A good read's value is stored in the table, or in *readBack
// when given (the table keeps what was written), and kept as the item's last known value
// for the change log.
ExchangeResult exchange(TransferContext& ctx, int i, bool write, qint16* readBack = nullptr) {
    const qint16 instrument = ctx.com.conditions().instrument;
    const QByteArray item = itemAddressText(i).toLatin1();
    const Request request =
        write ? Request::write(instrument, item, itemDataText(ctx.table.values[i]).toLatin1())
              : Request::read(instrument, item);
    ExchangeResult result = sendItemCommand(ctx.com, request);
    // A write to the broadcast station is never answered, whatever the line showed.
    if (write && result.outcome != ExchangeOutcome::DeviceLost && !ctx.com.deviceLost() &&
        ctx.com.codec() && ctx.com.codec()->broadcastsTo(request.instrument))
        result.outcome = ExchangeOutcome::Broadcast;
    if (result.good() && !write && !result.values.isEmpty()) {
        if (readBack)
            *readBack = result.values.first();
        else
            ctx.table.values[i] = result.values.first();
        changesOf(ctx).remember(ctx.com, i, result.values.first(), KnownFrom::Read);
    }
    return result;
}

// The operator's message id of a failed exchange, under the protocol in effect.
int messageOf(const TransferContext& ctx, const ExchangeResult& result) {
    const Codec* codec = ctx.com.codec();
    return codec ? codec->messageId(result.outcome) : kResponseNone;
}

// Returns false when the sequence must stop (the device went away).
bool record(TransferContext& ctx, TransferResult& out, int i, const ExchangeResult& result) {
    if (result.outcome == ExchangeOutcome::DeviceLost || ctx.com.deviceLost()) {
        if (!out.lost)
            ctx.view.connectionLost(ctx.com.lostDevice());
        out.lost = true;
        return false;
    }
    if (result.outcome == ExchangeOutcome::Broadcast) {
        out.unconfirmed.append(i);
        return true;
    }
    const int message = messageOf(ctx, result);
    if (result.good()) {
        out.good.append(i);
    } else {
        out.failed.append(i);
        out.failedMessage.append(message);
        ctx.view.showError(message, i);
    }
    ctx.view.itemRecorded(i, message);
    return out.logError.isEmpty(); // a write whose record failed stops there
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
        ctx.view.notice(strings::text(TextId::BroadcastWritten).arg(out.unconfirmed.size()));
}

// A write, and with verify a read-back of the acknowledged value: a mismatch is
// recorded here, the outcome of the write (or of a failed read-back) is returned. Every
// write sent is recorded in the change log, whatever came of it.
ExchangeResult writeItem(TransferContext& ctx, TransferResult& out, int i) {
    ChangeLog& changes = changesOf(ctx);
    const qint16 wanted = ctx.table.values[i];
    std::optional<qint16> before;
    KnownFrom beforeFrom = KnownFrom::Read;
    const Codec* codec = ctx.com.codec();
    if (ctx.readBeforeWrite && !(codec && codec->broadcastsTo(ctx.com.conditions().instrument))) {
        qint16 held = 0;
        const ExchangeResult read = exchange(ctx, i, false, &held);
        if (read.outcome == ExchangeOutcome::DeviceLost || ctx.com.deviceLost())
            return read; // nothing was written
        if (read.good()) {
            before = held;
            beforeFrom = KnownFrom::ReadBeforeWrite;
        }
    }
    if (!before)
        std::tie(before, beforeFrom) = changes.lastKnownWithSource(ctx.com, i);
    const ExchangeResult result = exchange(ctx, i, true);
    WriteOutcome outcome = writeOutcome(result, ctx.com.deviceLost());
    ExchangeResult returned = result;
    if (result.good()) {
        changes.remember(ctx.com, i, wanted, KnownFrom::Written);
        if (ctx.verify) {
            qint16 holds = 0;
            const ExchangeResult readResult = exchange(ctx, i, false, &holds);
            if (!readResult.good()) {
                returned = readResult;
            } else if (holds != wanted) {
                const ReadBackMismatch m{i, wanted, holds};
                out.mismatches.append(m);
                ctx.com.reportReadBackDiffers(m.item, m.wrote, m.holds);
                ctx.view.readBackDiffers(m.item, m.wrote, m.holds);
                outcome = {ChangeOutcome::NotKept, QString(), holds};
            } else {
                outcome.outcome = ChangeOutcome::Verified;
            }
        }
    }
    ChangeRecord record = changes.recordFor(ctx.com, i, ctx.table.names[i], wanted);
    record.before = before;
    record.beforeFrom = before ? knownFromName(beforeFrom) : QString();
    record.outcome = outcome.outcome;
    record.code = outcome.code;
    record.holds = outcome.holds;
    if (!changes.append(record))
        out.logError = strings::text(TextId::ChangeLogFailed)
                           .arg(QDir::toNativeSeparators(changes.path()), changes.lastError());
    return returned;
}

// Before a write: the log must take its records, or nothing is sent.
bool logReady(TransferContext& ctx, TransferResult& out, const QString& kind) {
    ChangeLog& changes = changesOf(ctx);
    const QString torn = changes.recover();
    if (!torn.isEmpty())
        ctx.view.notice(torn);
    out.logError = changes.prepare(int(out.planned.size()));
    if (!out.logError.isEmpty())
        return false;
    changes.beginTransfer(kind);
    return true;
}

// After a write: its records are on the disk before the summary is shown.
void logDone(TransferContext& ctx, TransferResult& out) {
    ChangeLog& changes = changesOf(ctx);
    if (!changes.sync() && out.logError.isEmpty())
        out.logError = strings::text(TextId::ChangeLogFailed)
                           .arg(QDir::toNativeSeparators(changes.path()), changes.lastError());
}

// The short name of a failure for the summary.
TextId failureName(int messageId) {
    switch (messageId) {
    case kResponseNak:
        return TextId::OutcomeRefused;
    case kResponseChecksum:
        return TextId::OutcomeChecksum;
    case kResponseNone:
        return TextId::OutcomeNoAnswer;
    default:
        return TextId::OutcomeErrorOrRefused;
    }
}

bool isLeading(int i) {
    return std::find(std::begin(kLeadingItems), std::end(kLeadingItems), i) !=
           std::end(kLeadingItems);
}

} // namespace

bool storeReadValue(CommObject& com, ItemTable& table, const QByteArray& response, int item) {
    if (item < 0 || item >= kItemCount)
        return false;
    const std::optional<qint16> value = decodeDataField(com.extractData(response, 1));
    if (!value)
        return false;
    table.values[item] = *value;
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

bool usesBlockReads(const Conditions& c) {
    return c.blockRead && (c.protocol == kProtocolModbusAscii || c.protocol == kProtocolModbusRtu);
}

// The read by runs of consecutive selected items, one request each. Events run before
// every request, the bar still moves once per address and every item is recorded as the
// per-item read records it. Returns false when it stopped (program ending, device lost).
static bool readByBlocks(TransferContext& ctx, TransferResult& out) {
    BlockReader reader(ctx.com, ctx.com.conditions().instrument,
                       [&](int item) { return exchange(ctx, item, false); }); // stores the value
    reader.setMaxCount(ctx.com.conditions().blockMax);
    const auto keepGoing = [&] {
        if (out.lost)
            return false;
        ctx.view.processEvents();
        if (ctx.view.stopRequested()) {
            out.stopped = true;
            return false;
        }
        return true;
    };
    int owed = 0; // the first address the bar has not yet passed
    const auto passTo = [&](int end) {
        for (; owed < end; ++owed)
            ctx.view.progressStep();
    };
    const int total = int(itemsToRead(ctx.table).size());
    int n = 0;
    const auto outcome = [&](int item, const ExchangeResult& result, qint16 value) {
        ctx.view.progressItem(++n, total, item);
        if (result.good()) {
            ctx.table.values[item] = value;
            changesOf(ctx).remember(ctx.com, item, value, KnownFrom::Read);
        }
        if (record(ctx, out, item, result))
            passTo(item + 1);
    };
    const auto selected = [&](int i) { return ctx.table.isSelected(i); };
    const auto runs = blockRuns(selected, kItemCount, reader.maxCount());
    for (const auto& [first, count] : runs) {
        while (owed < first) { // addresses not selected: events and the bar as per item
            if (!keepGoing())
                return false;
            passTo(owed + 1);
        }
        if (!reader.readRun(first, count, outcome, keepGoing) || out.lost) {
            if (ctx.com.deviceLost() && !out.lost) {
                // A block went unanswered because the device went away.
                ctx.view.connectionLost(ctx.com.lostDevice());
                out.lost = true;
            }
            return false;
        }
    }
    while (owed < kItemCount) {
        if (!keepGoing())
            return false;
        passTo(owed + 1);
    }
    return true;
}

QList<int> itemsToRead(const ItemTable& table) {
    QList<int> items;
    for (int i = 0; i < kItemCount; ++i)
        if (table.isSelected(i))
            items << i;
    return items;
}

QList<int> itemsToWrite(TransferContext& ctx) {
    QList<int> items;
    for (int i : kLeadingItems)
        if (ctx.table.isSelected(i) && ctx.view.selectionBoxTicked(i))
            items << i;
    for (int i = 1; i < kItemCount; ++i)
        if (!isLeading(i) && ctx.table.isSelected(i))
            items << i;
    return items;
}

QList<int> TransferResult::unreached() const {
    QList<int> out;
    for (int i : planned)
        if (!good.contains(i) && !failed.contains(i) && !unconfirmed.contains(i))
            out << i;
    return out;
}

QString itemListText(const QList<int>& items, int limit) {
    QList<int> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    QStringList parts;
    for (qsizetype k = 0; k < sorted.size();) {
        qsizetype end = k + 1; // one past the run of consecutive addresses from k
        while (end < sorted.size() && sorted[end] == sorted[end - 1] + 1)
            ++end;
        if (limit >= 0 && parts.size() >= limit) {
            parts << QStringLiteral("\u2026");
            break;
        }
        const QString first = itemAddressText(sorted[k]) + QLatin1Char('h');
        if (end - k >= 3) {
            parts << first + QLatin1Char('-') + itemAddressText(sorted[end - 1]) + QLatin1Char('h');
        } else {
            for (qsizetype j = k; j < end; ++j)
                parts << itemAddressText(sorted[j]) + QLatin1Char('h');
        }
        k = end;
    }
    return parts.join(QStringLiteral(", "));
}

QString summaryLine(const TransferResult& result, bool write) {
    // The items the transfer meant to send, also when a lost device let none be sent.
    const qsizetype items = !result.planned.isEmpty() ? result.planned.size()
                                                      : result.good.size() + result.failed.size() +
                                                            result.unconfirmed.size();
    QString line = strings::text(items == 1 ? TextId::SummaryLineItem : TextId::SummaryLineItems)
                       .arg(write ? QLatin1String("write") : QLatin1String("read"))
                       .arg(items)
                       .arg(result.keptCount())
                       .arg(result.failed.size());
    if (!result.unconfirmed.isEmpty())
        line += strings::text(TextId::SummaryLineNotConfirmed).arg(result.unconfirmed.size());
    if (!result.mismatches.isEmpty())
        line += strings::text(TextId::SummaryLineNotKept).arg(result.mismatches.size());
    if (const QList<int> unreached = result.unreached(); !unreached.isEmpty())
        line += strings::text(write ? TextId::SummaryLineNotWritten : TextId::SummaryLineNotRead)
                    .arg(unreached.size())
                    .arg(itemListText(unreached));
    if (result.stopped)
        line += strings::text(TextId::SummaryLineStopped);
    else if (result.lost)
        line += strings::text(TextId::SummaryLineLost);
    return line;
}

QString transferSummary(const TransferResult& result, bool write, int planned) {
    QString text = strings::text(write ? TextId::SummaryWrite : TextId::SummaryRead)
                       .arg(result.keptCount())
                       .arg(planned);
    if (!result.failed.isEmpty()) {
        // The first few by name; the monitor has them all.
        constexpr int kNamed = 3;
        QStringList named;
        for (qsizetype k = 0; k < result.failed.size() && k < kNamed; ++k)
            named << itemAddressText(result.failed[k]) + QStringLiteral("h ") +
                         strings::text(failureName(result.failedMessage.value(k)));
        if (result.failed.size() > kNamed)
            named << QStringLiteral("\u2026");
        text += strings::text(TextId::SummaryFailed)
                    .arg(result.failed.size())
                    .arg(named.join(QStringLiteral(", ")));
    }
    if (!result.mismatches.isEmpty())
        text += strings::text(TextId::SummaryNotKept).arg(result.mismatches.size());
    if (const QList<int> unreached = result.unreached(); !unreached.isEmpty())
        text += strings::text(write ? TextId::SummaryNotWritten : TextId::SummaryNotRead)
                    .arg(unreached.size())
                    .arg(itemListText(unreached, 3));
    if (result.stopped)
        text += strings::text(TextId::SummaryStopped);
    else if (result.lost)
        text += strings::text(TextId::SummaryLost);
    return text;
}

TransferResult readAllItems(TransferContext& ctx) {
    TransferResult out;
    out.planned = itemsToRead(ctx.table);
    if (lostBeforeStart(ctx, out))
        return out;
    if (const Codec* codec = ctx.com.codec();
        codec && codec->broadcastsTo(ctx.com.conditions().instrument)) {
        // Nobody answers station 0: asking would only fail every item after a time-out.
        out.readsImpossible = true;
        ctx.view.notice(strings::text(TextId::BroadcastNoReads));
        return out;
    }
    ctx.view.progressStart();
    const int total = int(out.planned.size());
    int n = 0;
    const bool done = usesBlockReads(ctx.com.conditions())
                          ? readByBlocks(ctx, out)
                          : everyAddress(ctx, out, [&](int i) {
                                if (!ctx.table.isSelected(i))
                                    return true;
                                ctx.view.progressItem(++n, total, i);
                                return record(ctx, out, i, exchange(ctx, i, false));
                            });
    if (done || out.lost)
        ctx.view.progressEnd();
    return out;
}

QString mismatchText(const ReadBackMismatch& m) {
    return strings::text(TextId::ReadBackDiffers)
        .arg(itemAddressText(m.item))
        .arg(m.wrote)
        .arg(m.holds);
}

// The write of all items, of the listed items only when `only` is given.
static TransferResult writeItems(TransferContext& ctx, const QList<int>* only,
                                 const QString& kind) {
    const auto wanted = [&](int i) {
        return ctx.table.isSelected(i) && (!only || only->contains(i));
    };
    TransferResult out;
    for (int i : itemsToWrite(ctx))
        if (!only || only->contains(i))
            out.planned << i;
    if (lostBeforeStart(ctx, out) || !logReady(ctx, out, kind))
        return out;
    ctx.view.progressStart();
    const int total = int(out.planned.size());
    int n = 0;
    // The leading items need both copies of the selection; no events run between them.
    for (int i : kLeadingItems) {
        if (!wanted(i) || !ctx.view.selectionBoxTicked(i))
            continue;
        ctx.view.progressItem(++n, total, i);
        if (!record(ctx, out, i, writeItem(ctx, out, i))) {
            logDone(ctx, out);
            ctx.view.progressEnd();
            return out;
        }
    }
    const bool done = everyAddress(ctx, out, [&](int i) {
        // Item 0000h is never written by the write of all items.
        if (i == 0 || isLeading(i) || !wanted(i))
            return true;
        ctx.view.progressItem(++n, total, i);
        return record(ctx, out, i, writeItem(ctx, out, i));
    });
    logDone(ctx, out);
    if (done || out.lost || !out.logError.isEmpty())
        ctx.view.progressEnd();
    reportBroadcast(ctx, out);
    return out;
}

TransferResult writeAllItems(TransferContext& ctx) {
    return writeItems(ctx, nullptr, QStringLiteral("write"));
}

TransferResult writeListedItems(TransferContext& ctx, const QList<int>& items) {
    return writeItems(ctx, &items, QStringLiteral("differences"));
}

TransferResult writeChangedItem(TransferContext& ctx) {
    TransferResult out;
    const int i = ctx.table.currentItem;
    if (i < 0 || i >= kItemCount || !ctx.table.isSelected(i))
        return out;
    out.planned = {i};
    if (lostBeforeStart(ctx, out) || !logReady(ctx, out, QStringLiteral("item")))
        return out;
    record(ctx, out, i, writeItem(ctx, out, i));
    logDone(ctx, out);
    return out;
}

} // namespace pmx
