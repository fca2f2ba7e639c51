// The serial object and the transfer sequences on a scripted line with a virtual clock,
// answered by the virtual instrument's logic: what the pty tests cannot see (how many
// requests went out, how long each exchange waited, what the matching rule puts on the
// wire), and what the chaos property (test_line_chaos.cpp) does not state: the cost of
// silence and of a refused window, an echoing adapter with and without an instrument,
// the late-answer notice, answers that name another item, a device that goes away, Modbus
// broadcasts; and block reads, split when refused, ending as item by item.
#include "RecordingView.h"
#include "ScriptedTransport.h"
#include "SimInstrument.h"
#include "TestPrinters.h"
#include "comm/Checksums.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"
#include "comm/LineNotes.h"
#include "comm/SerialComm.h"
#include "transfer/BlockRead.h"
#include "transfer/Compare.h"
#include "transfer/Sequences.h"

#include <QMap>
#include <QSet>
#include <gtest/gtest.h>

#include <algorithm>
#include <span>

using namespace pmx;
using pmx::test::ScriptedTransport;
using Reply = ScriptedTransport::Reply;

namespace {

constexpr int kTimeout = 200;
const QList<int> kItems = {5, 6, 7, 8, 9, 10};

// A serial object on a scripted line to one virtual instrument whose item i holds
// 1000 + i. Answers go out in the order of the requests: a late one holds back those
// after it, as a busy instrument does.
struct Rig {
    explicit Rig(qint16 protocol, qint16 instrumentNo = 1)
        : protocol(protocol),
          instrument(protocol == kProtocolKorvan        ? sim::Protocol::Korvan
                     : protocol == kProtocolModbusAscii ? sim::Protocol::ModbusAscii
                                                        : sim::Protocol::ModbusRtu,
                     instrumentNo) {
        for (int i = 0; i < kItemCount; ++i)
            instrument.setValue(i, qint16(1000 + i));
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        line->responder = [this](const QByteArray& request) { return answer(request); };
        com = std::make_unique<SerialComm>(
            std::move(t), [](const QString&) { return QStringLiteral("/dev/ttyFAKE0"); });
        com->setConditions({.protocol = ProtocolNumber(protocol),
                            .instrument = instrumentNo,
                            .timeoutMs = kTimeout});
        EXPECT_TRUE(com->openPort());
        table.values.fill(-7); // a value no answer carries
    }
    Reply answer(const QByteArray& request) {
        QByteArray bytes;
        int delayMs = 0, item = -1;
        for (const sim::Reply& r : instrument.feed(request)) {
            bytes += r.bytes;
            delayMs = r.delayMs;
            item = r.logLine.section(QLatin1Char(' '), 2, 2).toInt(nullptr, 16);
        }
        if (item >= 0)
            asked << item;
        if (item == vanishAt)
            return Reply{{}, false, true};
        lastAnswer = bytes;
        // The adapter's echo comes at once, ahead of any answer.
        const QList<ScriptedTransport::Chunk> echoed = {{0, request}};
        if (bytes.isEmpty())
            return echo ? Reply{echoed} : Reply{};
        const qint64 now = line->clockMs();
        busyUntil = std::max(now + 1 + delayMs, busyUntil + 1);
        Reply r = Reply::whole(bytes, int(busyUntil - now));
        r = shape ? shape(r) : r;
        if (echo)
            r.chunks = echoed + r.chunks;
        return r;
    }
    bool korvan() const { return protocol == kProtocolKorvan; }
    // One read, through sendItemCommand as the sequences do it (retries 3).
    QByteArray read(qint16 inst = 1, int item = 0x44) { return readResult(inst, item).text; }
    ExchangeResult readResult(qint16 inst = 1, int item = 0x44) {
        return sendItemCommand(*com, Request::read(inst, itemAddressText(item).toLatin1()));
    }
    // One read, so that the line has shown whether it echoes (a write's first copy on a
    // line that has not is checked by a read of its own), then the records start afresh.
    Rig& known() {
        read(1, 0);
        asked.clear();
        line->written.clear();
        line->writeTimes.clear();
        return *this;
    }
    std::optional<qint16> value(const QByteArray& text) const {
        return decodeDataField(com->extractData(text, 1));
    }
    // The message a read's response text shows, as the read sequence shows it.
    int classify(const QByteArray& text) const {
        const Codec& codec = *com->codec();
        return codec.messageId(codec.judge(text, "03", nullptr));
    }
    int garbled() const { return korvan() ? kResponseChecksum : kResponseCommError; }
    // RTU's silence at 9600 bit/s, 7E1, in the whole milliseconds of the virtual clock.
    static qint64 silenceMs() { return (SerialComm::rtuSilenceNs(9600, 10) + 999999) / 1000000; }
    // Virtual time an exchange may take before its request goes out.
    qint64 lead() const { return protocol == kProtocolModbusRtu ? silenceMs() : 0; }

    void select(const QList<int>& items) {
        table.selections.fill(Selection::Cleared);
        for (int i : items)
            table.selections[i] = Selection::Selected;
    }
    TransferResult run(const QList<int>& items, bool write) {
        select(items);
        TransferContext ctx{table, *com, view};
        return write ? writeAllItems(ctx) : readAllItems(ctx);
    }
    TransferContext ctx() { return TransferContext{table, *com, view}; }
    // The register count of every request that went out (1 for a write).
    QList<int> counts() const {
        QList<int> out;
        for (const QByteArray& frame : line->written)
            out << describeRequest(protocol, frame).count;
        return out;
    }
    // Every stored value is the item's own or untouched; returns the items stored.
    QList<int> storedItems() const {
        QList<int> stored;
        for (int i = 0; i < kItemCount; ++i) {
            if (table.values[i] == -7)
                continue;
            EXPECT_EQ(table.values[i], 1000 + i) << "item " << i << " holds another's value";
            stored << i;
        }
        return stored;
    }

    qint16 protocol;
    sim::Instrument instrument;
    std::function<Reply(Reply)> shape; // reshapes every answer on its way to the line
    bool echo = false;                 // the adapter sends every request back at once
    int vanishAt = -1;                 // the device goes away as this item's request is written
    QList<int> asked;                  // the item of every request answered or vanished at
    qint64 busyUntil = 0;
    QByteArray lastAnswer;
    ScriptedTransport* line;
    std::unique_ptr<SerialComm> com;
    ItemTable table;
    test::RecordingView view;
};

class LineIntegrity : public ::testing::TestWithParam<test::ProtocolCase> {};

} // namespace

// A refusal is not retried either: ObserverRecordsEveryOutcome counts its one attempt.
TEST_P(LineIntegrity, SilenceIsNotRetried) {
    Rig rig(GetParam().no);
    rig.instrument.setSilent(true);
    const qint64 start = rig.line->clockMs();
    EXPECT_EQ(rig.classify(rig.read()), rig.korvan() ? kResponseNone : kResponseCommError);
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + kTimeout); // one time-out only
    EXPECT_TRUE(rig.com->lastExchange().silent);
    // After silence Modbus waits a time-out of quiet, so that a late answer cannot pass for
    // the next request's: a silent item costs one time-out under KORVAN, two under Modbus.
    rig.run(kItems, false);
    EXPECT_EQ(rig.line->clockMs() - start,
              rig.lead() + kTimeout + kItems.size() * kTimeout * (rig.korvan() ? 1 : 2));
    EXPECT_EQ(rig.line->written.size(), 1 + kItems.size());
}

TEST_P(LineIntegrity, CorruptedAnswerIsRetriedUpToRetries) {
    Rig rig(GetParam().no);
    // A value whose RTU answer has no 03h or 83h after its function code: such a byte,
    // spoiled or not, could begin another answer, and the reader waits for the rest.
    rig.instrument.setValue(0x44, 0x7FFF);
    rig.instrument.setFault(0x44, {sim::FaultKind::BadSum});
    rig.shape = [&rig](const Reply& r) { // spoiled once
        rig.instrument.setFault(0x44, {});
        return r;
    };
    EXPECT_EQ(rig.value(rig.read()), 0x7FFF);
    ASSERT_EQ(rig.line->written.size(), 2);
    EXPECT_EQ(rig.line->written[0], rig.line->written[1]);

    rig.shape = {};
    rig.instrument.setFault(0x44, {sim::FaultKind::BadSum});
    const QByteArray text = rig.read();
    EXPECT_EQ(rig.classify(text), rig.garbled());
    EXPECT_EQ(rig.line->written.size(), 2 + 3);
    EXPECT_EQ(rig.value(text), std::nullopt);
}

// KORVAN answers name the item of reads and writes, Modbus only those of writes (a 03
// answer names no register). An answer naming an item no request on the line asked for
// is malformed: each attempt fails at once, not after the time-out.
TEST_P(LineIntegrity, AnswerNamingAnotherItemIsNeverTaken) {
    Rig rig(GetParam().no);
    rig.instrument.setFault(6, {sim::FaultKind::Echo, 4, 0, 9});
    if (rig.korvan()) {
        EXPECT_EQ(rig.run(kItems, false).failed, QList<int>({6}));
        EXPECT_FALSE(rig.storedItems().contains(6));
    }
    EXPECT_EQ(rig.run(kItems, true).failed, QList<int>({6}));
    rig.table.currentItem = 6;
    const qint64 start = rig.line->clockMs();
    TransferContext ctx = rig.ctx();
    EXPECT_EQ(writeChangedItem(ctx).failed, QList<int>({6}));
    EXPECT_EQ(rig.com->lastExchange().attempts, 3);
    EXPECT_LT(rig.line->clockMs() - start, kTimeout);
}

TEST_P(LineIntegrity, DeviceGoneStopsTheSequenceWithOneReport) {
    Rig rig(GetParam().no);
    rig.vanishAt = 8;
    const TransferResult read = rig.run(kItems, false);
    EXPECT_TRUE(read.lost);
    EXPECT_EQ(read.good, QList<int>({5, 6, 7}));
    EXPECT_TRUE(read.failed.isEmpty()) << "a lost device is not an item failure";
    EXPECT_EQ(rig.view.lost, QStringList({"/dev/ttyFAKE0"}));
    EXPECT_TRUE(rig.com->deviceLost() && !rig.com->isOpen());
    const qsizetype sent = rig.line->written.size();
    rig.run(kItems, true);
    EXPECT_EQ(rig.line->written.size(), sent) << "nothing is sent to a lost device";
    EXPECT_EQ(rig.view.lost.size(), 2);

    // Gone in the middle of an answer: that and every later exchange fail at once.
    Rig cut(GetParam().no);
    cut.shape = [](const Reply& r) { return Reply{{{1, r.chunks.front().bytes.left(4)}}, true}; };
    EXPECT_TRUE(cut.read().isEmpty());
    const qint64 before = cut.line->clockMs();
    EXPECT_TRUE(cut.read().isEmpty());
    EXPECT_TRUE(cut.com->lastExchange().deviceGone);
    EXPECT_EQ(cut.line->clockMs(), before);
    EXPECT_EQ(cut.line->written.size(), 1);
}

using Outcome = ItemComparison::Outcome;

// Items 5..10: equal, different, refused, equal, and the device gone at 9: it and the item
// never asked are unreadable.
TEST_P(LineIntegrity, CompareLeavesTheTableAndSaysWhatDiffers) {
    Rig rig(GetParam().no);
    rig.select(kItems);
    const QList<qint16> tableValues = {1005, 6, 1007, 1008, 1009, 10};
    for (int k = 0; k < kItems.size(); ++k)
        rig.table.values[kItems[k]] = tableValues[k];
    rig.instrument.setFault(7, {sim::FaultKind::Nak, 2});
    rig.vanishAt = 9;
    const auto before = rig.table.values;
    TransferContext ctx{rig.table, *rig.com, rig.view};
    const Comparison cmp = compareWithInstrument(ctx);

    EXPECT_EQ(rig.table.values, before);
    QList<Outcome> outcomes;
    QList<int> messages; // of the unreadable items
    for (const ItemComparison& item : cmp.items) {
        outcomes << item.outcome;
        if (item.outcome == Outcome::Unreadable)
            messages << item.messageId;
    }
    EXPECT_EQ(outcomes, (QList<Outcome>{Outcome::Equal, Outcome::Different, Outcome::Unreadable,
                                        Outcome::Equal, Outcome::Unreadable, Outcome::Unreadable}));
    const int refused = rig.korvan() ? kResponseNak : kResponseCommError;
    EXPECT_EQ(messages, (QList<int>{refused, kResponseNone, kResponseNone}));
    EXPECT_EQ(cmp.differing(), QList<int>{6});
    EXPECT_EQ(cmp.countsText(), "1 of 6 items differ; 3 could not be read");
}

TEST_P(LineIntegrity, WriteListedItemsKeepsTheWriteAllOrder) {
    Rig rig(GetParam().no);
    rig.known();
    rig.select({0, 3, 0x10, 0x23, 0x24, 0x44, 0x49, 0x50});
    // Listed but not selected (0x4A) or 0000h: never written; selected but not listed
    // (0x24, 0x50): left alone.
    const QList<int> listed = {0x50 - 1, 0x10, 0x49, 0, 0x4A, 3, 0x23, 0x44};
    TransferContext ctx{rig.table, *rig.com, rig.view};
    const TransferResult r = writeListedItems(ctx, listed);
    EXPECT_EQ(rig.asked, (QList<int>{0x44, 0x23, 0x49, 3, 0x10}));
    EXPECT_EQ(r.good, rig.asked);
    EXPECT_TRUE(r.failed.isEmpty());
}

// Verify after writing: what the instrument clamped or ignored is reported and never lands
// in the table; a read-back that fails is a failure of its item, not a mismatch.
TEST_P(LineIntegrity, VerifyReportsClampedIgnoredAndUnreadWrites) {
    Rig rig(GetParam().no);
    rig.known();
    rig.select({0x10, 0x23, 0x24});
    rig.table.values[0x10] = 900;  // within the clamp range: kept
    rig.table.values[0x23] = 1500; // clamped to 1000
    rig.table.values[0x24] = -5;   // ignored: the instrument keeps 1036
    rig.instrument.setFault(0x10, {sim::FaultKind::Clamp, 4, 0, 0, 0, 1000});
    rig.instrument.setFault(0x23, {sim::FaultKind::Clamp, 4, 0, 0, 0, 1000});
    rig.instrument.setFault(0x24, {sim::FaultKind::Ignore});
    const auto written = rig.table.values;
    TransferContext ctx{rig.table, *rig.com, rig.view, true};
    const TransferResult all = writeAllItems(ctx);
    const QList<ReadBackMismatch> expected = {{0x23, 1500, 1000}, {0x24, -5, 1036}};
    EXPECT_EQ(all.mismatches, expected);
    EXPECT_EQ(rig.view.mismatches, expected);
    EXPECT_EQ(all.good, (QList<int>{0x23, 0x24, 0x10})); // every write was answered
    EXPECT_EQ(rig.asked.size(), 6);                      // one read-back per written item
    EXPECT_EQ(rig.table.values, written);

    rig.table.currentItem = 0x24;
    EXPECT_EQ(writeChangedItem(ctx).mismatches, (QList<ReadBackMismatch>{{0x24, -5, 1036}}));
    rig.shape = [&rig](const Reply& reply) { return rig.asked.size() % 2 ? reply : Reply{}; };
    const TransferResult unread = writeChangedItem(ctx);
    EXPECT_TRUE(unread.mismatches.isEmpty());
    EXPECT_EQ(unread.failed, QList<int>{0x24});
}

// The observer hears every exchange once, as it ended, whatever the way out of it.
TEST_P(LineIntegrity, ObserverRecordsEveryOutcome) {
    Rig rig(GetParam().no);
    rig.known();
    ExchangeLog log;
    rig.com->addExchangeObserver(&log);
    rig.instrument.setFault(6, {sim::FaultKind::Nak, 2, 0, 0});
    rig.instrument.setFault(7, {sim::FaultKind::BadSum});
    rig.instrument.setFault(8, {sim::FaultKind::Silent});
    rig.instrument.setFault(9, {sim::FaultKind::Echo, 4, 0, 12});
    rig.vanishAt = 10;
    rig.run(kItems, true);
    ASSERT_EQ(log.size(), kItems.size());
    // Item, outcome, attempts.
    const std::tuple<int, ExchangeOutcome, int> rows[] = {
        {5, ExchangeOutcome::Good, 1},          {6, ExchangeOutcome::Refused, 1},
        {7, ExchangeOutcome::ChecksumError, 3}, {8, ExchangeOutcome::NoAnswer, 1},
        {9, ExchangeOutcome::ChecksumError, 3}, {10, ExchangeOutcome::DeviceLost, 1}};
    for (qsizetype k = 0; k < log.size(); ++k) {
        const ExchangeRecord& r = log.at(k);
        const auto& [item, outcome, attempts] = rows[k];
        SCOPED_TRACE(item);
        EXPECT_EQ(r.outcome, outcome);
        EXPECT_EQ(r.attempts, attempts);
        const bool lost = outcome == ExchangeOutcome::DeviceLost; // vanished as it was written
        EXPECT_EQ(rig.line->written.count(r.request), lost ? 0 : attempts)
            << "the record carries the frame that went out";
        const RequestMeaning m = describeRequest(rig.protocol, r.request);
        EXPECT_EQ(std::tuple(m.write, m.item, m.value), std::tuple(true, item, qint16(-7)));
        EXPECT_EQ(r.answer.isEmpty(), outcome == ExchangeOutcome::NoAnswer || lost);
    }
    EXPECT_EQ(log.at(1).refusalCode, "02");
    EXPECT_GE(log.at(3).roundTripMs, kTimeout) << "silence waited the whole time-out";

    // Nothing goes out to a lost device, yet the attempt is recorded.
    rig.read();
    EXPECT_EQ(log.size(), 7);
    EXPECT_EQ(log.at(6).outcome, ExchangeOutcome::DeviceLost);
}

// An adapter that sends every request back: reads and writes work through it with an
// instrument behind it; without one, every write fails as unanswered. The line's echo is
// named, and learned with at most one read per opening.
TEST_P(LineIntegrity, EchoingAdapter) {
    Rig rig(GetParam().no);
    rig.echo = true;
    EXPECT_EQ(rig.run(kItems, false).good, kItems);
    EXPECT_EQ(rig.storedItems(), kItems);
    EXPECT_TRUE(rig.com->lineEchoes());
    EXPECT_EQ(rig.run(kItems, true).good, kItems);
    for (int i : kItems)
        EXPECT_EQ(rig.instrument.value(i), rig.table.values[i]);

    for (const bool instrument : {false, true}) {
        SCOPED_TRACE(instrument ? "writes first, an instrument behind" : "echo only");
        Rig fresh(GetParam().no);
        fresh.echo = true;
        fresh.instrument.setSilent(!instrument);
        const TransferResult w = fresh.run(kItems, true);
        EXPECT_EQ(w.good, instrument ? kItems : QList<int>());
        // Under Modbus a write's answer is its request: one read of the first item tells
        // the echo from the answer; a KORVAN request is never an answer.
        const qsizetype reads = std::count_if(
            fresh.line->written.begin(), fresh.line->written.end(),
            [&](const QByteArray& f) { return !describeRequest(fresh.protocol, f).write; });
        EXPECT_EQ(reads, fresh.korvan() || instrument ? 0 : 1);
        EXPECT_TRUE(fresh.com->lineEchoes());
    }

    // Without an echo, a write's one copy is its answer; a line that has not shown whether
    // it echoes is asked once, by a read, before a write's copy counts.
    Rig plain(GetParam().no);
    EXPECT_EQ(plain.run(kItems, true).good, kItems);
    EXPECT_EQ(plain.line->written.size(), kItems.size() + (plain.korvan() ? 0 : 1));
    EXPECT_FALSE(plain.com->lineEchoes());
}

// Answers after their time-out are dropped; how late they came is measured and told once
// per opening, with a time-out that would wait for them.
TEST_P(LineIntegrity, LateAnswersAreMeasuredAndToldOnce) {
    Rig rig(GetParam().no);
    rig.instrument.setFault(6, {sim::FaultKind::Delay, 4, kTimeout * 3 / 2, 0});
    EXPECT_EQ(rig.run(kItems, false).failed, QList<int>({6}));
    EXPECT_GE(rig.com->lateAnswerMs(), kTimeout * 3 / 2);
    EXPECT_LE(rig.com->lateAnswerMs(), kTimeout * 3 / 2 + 2);
    const QString notice = rig.com->takeLateAnswerNotice();
    EXPECT_EQ(notice, lateAnswersText(rig.com->lateAnswerMs()));
    EXPECT_TRUE(notice.contains(QStringLiteral("400 ms"))) << notice.toStdString();
    EXPECT_TRUE(rig.com->takeLateAnswerNotice().isEmpty()) << "once";
}

INSTANTIATE_TEST_SUITE_P(, LineIntegrity, test::allProtocols(),
                         ::testing::PrintToStringParamName());

// After a miss a Modbus read asks for a window of registers whose count no unanswered
// read used, so its answer is provably its own, and keeps only its item. An instrument
// that refuses the window has the item read as asked: the refusal is never the item's;
// after that it gets no windows, and a read after a miss is sent again once its first
// answer could have been the missed one's.
TEST(LineIntegrityModbus, ReadAfterAMissAsksForAWindow) {
    for (const auto& [protocol, name] : std::span(test::kProtocolCases).subspan(1)) {
        SCOPED_TRACE(name);
        Rig rig(protocol);
        rig.instrument.setFault(6, {sim::FaultKind::Silent});
        EXPECT_EQ(rig.run(kItems, false).failed, QList<int>({6}));
        EXPECT_EQ(rig.storedItems(), QList<int>({5, 7, 8, 9, 10}));
        EXPECT_EQ(rig.counts(), QList<int>({1, 1, 2, 1, 1, 1}));
        EXPECT_EQ(describeRequest(protocol, rig.line->written[2]).item, 7);

        Rig narrow(protocol);
        narrow.instrument.setMaxCount(1);
        narrow.instrument.setFault(6, {sim::FaultKind::Silent});
        EXPECT_EQ(narrow.run({5, 6, 7}, false).good, QList<int>({5, 7}));
        // The refusal could have been the missed read's, so the window went twice.
        EXPECT_EQ(narrow.counts(), QList<int>({1, 1, 2, 2, 1}));
        narrow.line->written.clear();
        narrow.instrument.setFault(8, {sim::FaultKind::Silent});
        EXPECT_EQ(narrow.run({8, 9}, false).good, QList<int>({9}));
        EXPECT_EQ(narrow.counts(), QList<int>({1, 1, 1}));
        EXPECT_EQ(narrow.storedItems(), QList<int>({5, 7, 9}));
    }
}

// A block answer whose byte count no request on the line asked for is malformed: it
// fails at once (and the block is split as for a refusal), never after the time-out.
TEST(LineIntegrityModbus, BlockAnswerWithAnotherCountFailsAtOnce) {
    for (const auto& [protocol, name] : std::span(test::kProtocolCases).subspan(1)) {
        SCOPED_TRACE(name);
        Rig rig(protocol);
        rig.shape = [protocol](const Reply& r) {
            // One register more than the block asked for, with a right checksum.
            QByteArray text = r.chunks.front().bytes;
            QByteArray m = protocol == kProtocolModbusRtu
                               ? text.left(text.size() - 2)
                               : QByteArray::fromHex(text.mid(1, text.size() - 5));
            if (m.size() < 7)
                return r; // one register: left alone
            m[2] = char(quint8(m[2]) + 2);
            m += QByteArray(2, '\0');
            return Reply::whole(protocol == kProtocolModbusRtu ? framing::modbusRtuFrame(m)
                                                               : framing::modbusAsciiFrame(m));
        };
        Conditions c = rig.com->conditions();
        c.blockRead = true;
        rig.com->setConditions(c);
        const qint64 start = rig.line->clockMs();
        EXPECT_EQ(rig.run(kItems, false).good, kItems);
        EXPECT_EQ(rig.storedItems(), kItems);
        EXPECT_LT(rig.line->clockMs() - start, kTimeout) << "no attempt waited its time-out";
    }
}

TEST(ModbusStationZero, BroadcastsWritesAndDoesNotRead) {
    for (const auto& [protocol, name] : std::span(test::kProtocolCases).subspan(1)) {
        SCOPED_TRACE(name);
        Rig rig(protocol, 0);
        const TransferResult read = rig.run(kItems, false);
        EXPECT_TRUE(read.readsImpossible);
        EXPECT_TRUE(rig.line->written.isEmpty());

        ExchangeLog log;
        rig.com->addExchangeObserver(&log);
        const TransferResult write = rig.run(kItems, true);
        EXPECT_EQ(write.unconfirmed, kItems);
        EXPECT_TRUE(write.good.isEmpty() && write.failed.isEmpty());
        ASSERT_EQ(rig.line->written.size(), kItems.size());
        ASSERT_EQ(log.size(), kItems.size());
        EXPECT_EQ(log.at(0).outcome, ExchangeOutcome::Broadcast);
        for (qsizetype i = 1; i < rig.line->writeTimes.size(); ++i) {
            const qint64 gap = rig.line->writeTimes[i] - rig.line->writeTimes[i - 1];
            EXPECT_GE(gap, SerialComm::kBroadcastTurnaroundMs);
            EXPECT_LT(gap, kTimeout) << "a broadcast is not waited for";
        }
    }
    // KORVAN keeps 0 as an ordinary instrument.
    Rig korvan(kProtocolKorvan, 0);
    EXPECT_EQ(korvan.run({7}, false).good, QList<int>({7}));
}

TEST(SerialComm, KorvanEscReplyIsRetried) {
    Rig rig(kProtocolKorvan);
    const QByteArray esc = framing::kEsc + QByteArray("!  0044\x03");
    rig.line->replies.push_back(Reply::whole(esc + checksum::hex2(checksum::bcc(esc.mid(1)))));
    EXPECT_EQ(rig.value(rig.read()), 1068);
    EXPECT_EQ(rig.line->written.size(), 2);
}

TEST(SerialComm, RtuSilenceCountsFromTheLastByteReceived) {
    // 3.5 characters: 7E1 is 10 bits, 8E2 is 12; above 19200 bit/s a fixed 1.75 ms.
    EXPECT_EQ(SerialComm::rtuSilenceNs(9600, 10), 3645834);
    EXPECT_EQ(SerialComm::rtuSilenceNs(19200, 12), 2187500);
    EXPECT_EQ(SerialComm::rtuSilenceNs(38400, 10), 1750000);
    Rig rig(kProtocolModbusRtu);
    // One read; returns when its request went out (-1, with a failure, when nothing went).
    const auto exchange = [&] {
        EXPECT_EQ(rig.classify(rig.read()), kResponseOk);
        if (rig.line->writeTimes.isEmpty()) {
            ADD_FAILURE() << "no request was written";
            return qint64(-1);
        }
        return rig.line->writeTimes.last();
    };
    exchange();
    // Back to back: the next request waits out the silence from the answer's last byte.
    qint64 lastByte = rig.line->clockMs();
    EXPECT_EQ(exchange(), lastByte + Rig::silenceMs());
    // Part of it already passed: only the rest is waited.
    lastByte = rig.line->clockMs();
    rig.line->read(2);
    EXPECT_EQ(exchange(), lastByte + Rig::silenceMs());
    // Quiet for longer than the silence: sent at once.
    rig.line->read(50);
    const qint64 idle = rig.line->clockMs();
    EXPECT_EQ(exchange(), idle);
    // A byte during the wait starts the silence again.
    lastByte = rig.line->clockMs();
    rig.line->inject(2, "\x55");
    EXPECT_EQ(exchange(), lastByte + 2 + Rig::silenceMs());
    // Behind a device server the serial side keeps its own timing: sent at once.
    rig.line->network = true;
    lastByte = rig.line->clockMs();
    EXPECT_EQ(exchange(), lastByte);
}

TEST(SerialComm, OpenPortPassesTheLineSettingsAndRefusesBadRates) {
    auto t = std::make_unique<ScriptedTransport>();
    ScriptedTransport* line = t.get();
    SerialComm com(std::move(t), [](const QString&) { return QStringLiteral("/dev/x"); });
    // Any positive rate is taken.
    Conditions c{.rate = 115200, .stopBits = 2, .parity = Parity::Odd, .port = "COM2"};
    com.setConditions(c);
    ASSERT_TRUE(com.openPort());
    const LineSettings& o = line->opened;
    EXPECT_EQ(std::tuple(o.device, o.baudRate, o.dataBits, o.stopBits, o.parity),
              std::tuple(QStringLiteral("/dev/x"), 115200, 7, 2, 'O'));
    for (const qint32 rate : {0, -9600}) {
        c.rate = rate;
        com.setConditions(c);
        EXPECT_FALSE(com.openPort()) << rate;
        EXPECT_EQ(com.lastOpenError(), OpenError::BadSettings) << rate;
    }
}

namespace {

// Block reads (Modbus): runs of registers in one request each.
class BlockRead : public ::testing::TestWithParam<qint16> {};

struct BlockFaults {
    QSet<int> undefined = {}; // exception 02 for any request touching them
    int maxCount = 125;       // exception 03 above
    int badSum = -1;          // every answer carrying this item arrives spoiled
    int vanishAt = -1;
};

// A rig whose instrument has the faults, with a block reader of its own.
struct BlockRig : Rig {
    explicit BlockRig(qint16 protocol, const BlockFaults& f = {}) : Rig(protocol) {
        for (int i : f.undefined)
            instrument.setFault(i, {sim::FaultKind::Nak, 2});
        instrument.setMaxCount(f.maxCount);
        if (f.badSum >= 0)
            instrument.setFault(f.badSum, {sim::FaultKind::BadSum});
        vanishAt = f.vanishAt;
    }
    // The registers of every request that went out.
    QList<int> counts() const {
        QList<int> out;
        for (const QByteArray& frame : line->written)
            out << describeRequest(protocol, frame).count;
        return out;
    }
    // Reads items [first, first + count); item -> value or -message id.
    QMap<int, int> readRun(int first, int count) {
        QMap<int, int> got;
        reader.readRun(
            first, count,
            [&](int item, const ExchangeResult& result, qint16 value) {
                got[item] = result.good() ? value : -com->codec()->messageId(result.outcome);
            },
            [] { return true; });
        return got;
    }

    // The read of all items but `unselected`, by blocks or item by item.
    TransferResult readAll(bool blocks, const QSet<int>& unselected = {}, int blockMax = 125) {
        Conditions c = com->conditions();
        c.blockRead = blocks;
        c.blockMax = blockMax;
        com->setConditions(c);
        QList<int> items;
        for (int i = 0; i < kItemCount; ++i)
            if (!unselected.contains(i))
                items << i;
        return run(items, false);
    }
    // One item alone, as the read without blocks asks for it.
    BlockReader reader{*com, 1, [this](int item) { return readResult(1, item); }};
};

QMap<int, int> expected(int first, int count, const QSet<int>& undefined = {}) {
    QMap<int, int> m;
    for (int i = first; i < first + count; ++i)
        m[i] = undefined.contains(i) ? -kResponseCommError : 1000 + i;
    return m;
}

} // namespace

TEST_P(BlockRead, OneRequestPerRunAndARefusedSpanIsSplitNotTakenForACountLimit) {
    BlockRig rig(GetParam());
    EXPECT_EQ(rig.readRun(0, 125), expected(0, 125));
    EXPECT_EQ(rig.readRun(125, 3), expected(125, 3));
    EXPECT_EQ(rig.counts(), QList<int>({125, 3}));

    rig.instrument.setFault(40, {sim::FaultKind::Nak, 2});
    rig.line->written.clear();
    EXPECT_EQ(rig.readRun(0, 64), expected(0, 64, {40}));
    // The split costs about two requests per level, not one per item.
    EXPECT_LT(rig.counts().size(), 16);
    EXPECT_EQ(rig.reader.learnedLimit(), BlockReader::kMaxRegisters) << "a span, not a count";
    rig.line->written.clear();
    EXPECT_EQ(rig.readRun(41, 87), expected(41, 87));
    EXPECT_EQ(rig.counts(), QList<int>({87})) << "exception 02 is no count limit";
}

TEST_P(BlockRead, CountLimitIsLearnedOnce) {
    BlockRig rig(GetParam(), {.maxCount = 20});
    EXPECT_EQ(rig.readRun(0, 125), expected(0, 125));
    EXPECT_LE(rig.reader.learnedLimit(), 20);
    rig.line->written.clear();
    EXPECT_EQ(rig.readRun(0, 125), expected(0, 125));
    for (int count : rig.counts())
        EXPECT_LE(count, 20) << "refused again after it was learned";
}

TEST_P(BlockRead, ReadOfAllItemsEndsAsTheItemByItemRead) {
    const struct {
        const char* name;
        BlockFaults faults;
        QSet<int> unselected = {};
        int blockMax = 125;
    } cases[] = {
        {"accepts every block", {}},
        {"undefined addresses", {.undefined = {0, 40, 41, 127}}},
        {"count limit", {.maxCount = 7}},
        // The block is tried three times, then split down to the one item.
        {"bad check on a block", {.badSum = 0x20}},
        {"gaps in the selection", {.undefined = {12}}, {3, 4, 5, 64, 100, 126}, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BlockRig single(GetParam(), c.faults), block(GetParam(), c.faults);
        const TransferResult one = single.readAll(false, c.unselected, c.blockMax);
        const TransferResult run = block.readAll(true, c.unselected, c.blockMax);
        EXPECT_EQ(block.table.values, single.table.values);
        EXPECT_EQ(run.good, one.good);
        EXPECT_EQ(run.failed, one.failed);
        EXPECT_EQ(run.failedMessage, one.failedMessage);
        EXPECT_EQ(block.view.errors, single.view.errors);
        EXPECT_EQ(block.view.progress, kItemCount);
        EXPECT_LT(block.asked.size(), single.asked.size()) << "fewer requests";
    }
}

TEST_P(BlockRead, StopAndLostDeviceEndTheReadOnce) {
    // Stop asked for: no request after it, nothing recorded as failed.
    BlockRig stopped(GetParam());
    stopped.view.stopAfterEvents = 3;
    const TransferResult r = stopped.readAll(true, {}, 16);
    EXPECT_TRUE(r.stopped);
    EXPECT_TRUE(r.failed.isEmpty());
    EXPECT_LT(stopped.asked.size(), 8);
    // The device goes away as the third block is written, and again during a split.
    for (const auto& [vanishAt, undefined] : {std::pair{32, QSet<int>{}}, {4, QSet<int>{5}}}) {
        SCOPED_TRACE(vanishAt);
        BlockRig rig(GetParam(), {.undefined = undefined, .vanishAt = vanishAt});
        const TransferResult lost = rig.readAll(true, {}, 16);
        EXPECT_TRUE(lost.lost);
        EXPECT_EQ(rig.view.lost.size(), 1);
        EXPECT_TRUE(lost.failed.isEmpty() || lost.failed == QList<int>{5})
            << "no item fails for the loss";
    }
}

INSTANTIATE_TEST_SUITE_P(Modbus, BlockRead,
                         ::testing::Values(kProtocolModbusAscii, kProtocolModbusRtu),
                         [](const auto& info) {
                             return info.param == kProtocolModbusAscii ? "ascii" : "rtu";
                         });
