#pragma once
#include "comm/CommObject.h"
#include "model/ItemTable.h"
#include <QList>

namespace pmx {

class ChangeLog;

// What a sequence needs of the window (or of the command line): the progress bar,
// the message label, "let pending events run" and the selection dialog's boxes.
class TransferView {
  public:
    virtual ~TransferView() = default;
    virtual void progressStart() = 0; // visible, 0 of 128
    virtual void progressStep() = 0;
    virtual void progressEnd() = 0; // hidden again
    // Before each exchange of a whole-table transfer: the n-th of the m items it sends,
    // and which item that is.
    virtual void progressItem(int n, int m, int item) {
        Q_UNUSED(n);
        Q_UNUSED(m);
        Q_UNUSED(item);
    }
    // A failed item: its ResponseClass, which is also the id of its text (the window
    // shows it in red for a while).
    virtual void showError(int messageId, int item) = 0;
    virtual void processEvents() = 0;
    // The selection dialog's copy of the selection; the window creates the dialog hidden
    // when it does not exist.
    virtual bool selectionBoxTicked(int item) = 0;
    // True once the program is ending or the operator asked to stop: a running sequence
    // stops before its next exchange.
    virtual bool stopRequested() { return false; }
    // The device went away: the sequence stops at once; called once per sequence.
    virtual void connectionLost(const QString& device) { Q_UNUSED(device); }
    // Something the operator must be told once per sequence (not an item failure), such
    // as reads being impossible at Modbus station 0.
    virtual void notice(const QString& text) { Q_UNUSED(text); }
    // A written item whose read-back holds another value (verify after writing); the
    // text is mismatchText of the same values.
    virtual void readBackDiffers(int item, qint16 wrote, qint16 holds) {
        Q_UNUSED(item);
        Q_UNUSED(wrote);
        Q_UNUSED(holds);
    }
    // An item's outcome as the sequence records it, in the order of the transfer: 0 when
    // it was good (a read value is already in the table), otherwise its message id (the
    // item was also shown through showError).
    virtual void itemRecorded(int item, int messageId) {
        Q_UNUSED(item);
        Q_UNUSED(messageId);
    }
};

// What a sequence works on; the instrument is the one of the conditions in effect.
struct TransferContext {
    ItemTable& table;
    CommObject& com;
    TransferView& view;
    // Read every written item back and report a value the instrument did not keep.
    bool verify = false;
    // Where every item written is recorded (ChangeLog.h); null: the log of this run,
    // ChangeLog::standard(). A write that cannot be recorded does not start.
    ChangeLog* changes = nullptr;
    // Read each item just before writing it, so that its record holds the value the
    // instrument had.
    bool readBeforeWrite = false;
};

// A written item the instrument acknowledged but holds another value of.
struct ReadBackMismatch {
    int item = 0;
    qint16 wrote = 0;
    qint16 holds = 0;
    friend bool operator==(const ReadBackMismatch&, const ReadBackMismatch&) = default;
};

// Outcome per item; the window shows its summary (failures are shown as they happen),
// the command line prints it and turns it into its exit status.
struct TransferResult {
    QList<int> planned; // the items the transfer meant to send, in its order
    QList<int> good;
    QList<int> failed;
    QList<int> failedMessage; // message id of each failed item, same order
    QList<int> unconfirmed;   // Modbus broadcast writes: sent, never answered
    // Verify after writing: written and acknowledged, but the read-back differs. Such
    // items are in `good` too (the write itself was answered); a read-back that fails
    // puts the item in `failed` with the read's message.
    QList<ReadBackMismatch> mismatches;
    bool stopped = false;
    bool lost = false;            // the device went away; the sequence stopped
    bool readsImpossible = false; // Modbus station 0: nothing was read
    // The change log could not be written: the operator's text. The write did not start
    // (nothing in `good` or `failed`) or stopped at the record that failed.
    QString logError;

    // The planned items the transfer never reached (a stop, a lost device), in its order.
    QList<int> unreached() const;
    // Good and kept: the good items less those whose read-back differs.
    qsizetype keptCount() const { return good.size() - mismatches.size(); }
};

// The five items the write of all items sends first, in this order.
inline constexpr int kLeadingItems[5] = {68, 35, 36, 73, 74};

// Stores the value of a good read response into values[item]. Returns false and
// leaves the item unchanged when the data field is not exactly four hex digits.
bool storeReadValue(CommObject& com, ItemTable& table, const QByteArray& response, int item);

// "0023h: wrote 1500, instrument holds 1000" (decimal values, the run's language).
QString mismatchText(const ReadBackMismatch& m);

// Whether the read of all items goes by blocks: turned on, and a Modbus protocol.
bool usesBlockReads(const Conditions& conditions);
// The items a whole-table transfer will send, in their order (the write asks the
// selection dialog's boxes for the leading items).
QList<int> itemsToRead(const ItemTable& table);
QList<int> itemsToWrite(TransferContext& ctx);

// Item addresses with runs of consecutive ones joined: "0005h, 0010h-001Fh". With a
// limit, only the first `limit` parts, then "…".
QString itemListText(const QList<int>& items, int limit = -1);

// The command line's last line in the run's language: "read: 58 items, 55 good, 1 failed,
// 2 not read (0020h-0021h), stopped"; "write: …" with "1 not kept" (verify) and "3 not
// confirmed" (broadcast) where there are any. Items are the planned ones; good ones are
// kept ones.
QString summaryLine(const TransferResult& result, bool write);
// The window's one-line summary in the run's language: "Read: 57 of 58 items good;
// 1 failed: 0005h no answer". `planned` is the number of items the transfer meant to send;
// a value the instrument did not keep is counted apart from good, and the items never
// reached are named.
QString transferSummary(const TransferResult& result, bool write, int planned);

TransferResult readAllItems(TransferContext& ctx);
TransferResult writeAllItems(TransferContext& ctx);
// The write of all items restricted to `items` (same order, same rules: selected only,
// never 0000h); the write of the differences a comparison found.
TransferResult writeListedItems(TransferContext& ctx, const QList<int>& items);
TransferResult writeChangedItem(TransferContext& ctx);

} // namespace pmx
