// The serial object and the transfer sequences on a scripted line with a virtual clock,
// answered by the virtual instrument's logic: what the pty tests cannot see (how many
// requests went out, how long each exchange waited), and that an answer belongs to its
// request: late answers, answers that name another item or instrument, a device that goes
// away, Modbus broadcasts; and block reads, split when refused, ending as item by item.
#include "RecordingView.h"
#include "ScriptedTransport.h"
#include "SimInstrument.h"
#include "TestPrinters.h"
#include "comm/Checksums.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"
#include "transfer/BlockRead.h"
#include "transfer/Compare.h"
#include "transfer/Sequences.h"

#include <QMap>
#include <QSet>
#include <gtest/gtest.h>
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
        if (bytes.isEmpty())
            return {};
        const qint64 now = line->clockMs();
        busyUntil = std::max(now + 1 + delayMs, busyUntil + 1);
        Reply r = Reply::whole(bytes, int(busyUntil - now));
        return shape ? shape(r) : r;
    }
    bool korvan() const { return protocol == kProtocolKorvan; }
    // One read, through sendItemCommand as the sequences do it (retn 3).
    QByteArray read(qint16 inst = 1, int item = 0x44) {
        QByteArray subadr, commod("03"), no = itemAddressText(item).toLatin1(), data;
        qint16 retn = 3;
        return sendItemCommand(*com, inst, subadr, commod, no, data, retn);
    }
    std::optional<qint16> value(const QByteArray& text) const {
        return decodeDataField(com->extractData(text, 1));
    }
    int classify(const QByteArray& text) const { return classifyResponse(text, protocol, "03"); }
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

TEST_P(LineIntegrity, FrameInPiecesAfterStaleInputAndGarbage) {
    Rig rig(GetParam().no);
    rig.read();
    rig.line->inject(0, rig.lastAnswer); // an earlier answer again, late
    rig.instrument.setValue(0x44, -1);
    rig.shape = [](const Reply& r) {
        Reply pieces = Reply::pieces(r.chunks.front().bytes, 1, 1);
        pieces.chunks.prepend({1, QByteArray("\xFF\x00zz\x0D", 5)});
        return pieces;
    };
    const qint64 start = rig.line->clockMs();
    EXPECT_EQ(rig.value(rig.read()), -1);
    // One byte a millisecond: done as soon as the last byte came, not at the time-out.
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + 1 + rig.lastAnswer.size());

    // The first byte just inside the time-out, the rest at 2400 bit/s (4 ms a character):
    // an answer begun in time gets its wire time.
    rig.shape = [](const Reply& r) {
        Reply slow = Reply::pieces(r.chunks.front().bytes, 1, 4);
        slow.chunks.front().delayMs = kTimeout - 2;
        return slow;
    };
    EXPECT_EQ(rig.value(rig.read()), -1);
}

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

TEST_P(LineIntegrity, CorruptedAnswerIsRetriedUpToRetn) {
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

TEST_P(LineIntegrity, AnswerFromAnotherInstrument) {
    Rig other(GetParam().no, 2);
    other.read(2);
    Rig rig(GetParam().no);
    rig.line->responder = [&](const QByteArray&) { return Reply::whole(other.lastAnswer); };
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read(1);
    if (GetParam().no == kProtocolModbusAscii) {
        // Another station's frame is ignored; ours never comes, so it is silence.
        EXPECT_EQ(rig.line->written.size(), 1);
        EXPECT_EQ(rig.line->clockMs() - start, kTimeout);
    } else {
        EXPECT_EQ(rig.classify(text), rig.garbled());
        EXPECT_EQ(rig.line->written.size(), 3);
    }
    EXPECT_EQ(text.isEmpty(), !rig.korvan());
}

// Late: the answer begins this long after its request, past the time-out; the promise
// holds up to twice the time-out.
TEST_P(LineIntegrity, EveryAnswerLateStoresNothingAndReportsNothingGood) {
    for (const int late : {kTimeout * 5 / 4, kTimeout * 3 / 2, kTimeout * 19 / 10}) {
        SCOPED_TRACE(late);
        Rig rig(GetParam().no);
        for (int i = 0; i < kItemCount; ++i)
            rig.instrument.setFault(i, {sim::FaultKind::Delay, 4, late, 0});
        EXPECT_TRUE(rig.run(kItems, false).good.isEmpty());
        EXPECT_TRUE(rig.storedItems().isEmpty());
        EXPECT_TRUE(rig.run(kItems, true).good.isEmpty());
    }
}

TEST_P(LineIntegrity, OneLateAnswerIsNotTakenForTheNextItem) {
    Rig rig(GetParam().no);
    rig.instrument.setFault(7, {sim::FaultKind::Delay, 4, kTimeout * 3 / 2, 0});
    const TransferResult read = rig.run(kItems, false);
    EXPECT_EQ(read.failed, QList<int>({7}));
    EXPECT_EQ(rig.storedItems(), QList<int>({5, 6, 8, 9, 10}));

    // A refusal right after a late acknowledgement stays a refusal of its own item.
    rig.instrument.setFault(8, {sim::FaultKind::ReadOnly});
    const TransferResult write = rig.run(kItems, true);
    EXPECT_EQ(write.failed, QList<int>({7, 8}));
    EXPECT_EQ(write.good, QList<int>({5, 6, 9, 10}));
}

// KORVAN answers echo the item of reads and writes, Modbus only those of writes (a 03
// answer names no register, so there the quiet line is the guard).
TEST_P(LineIntegrity, AnswerNamingAnotherItemIsNeverTaken) {
    Rig rig(GetParam().no);
    rig.instrument.setFault(6, {sim::FaultKind::Echo, 4, 0, 9});
    if (rig.korvan()) {
        EXPECT_EQ(rig.run(kItems, false).failed, QList<int>({6}));
        EXPECT_FALSE(rig.storedItems().contains(6));
    }
    EXPECT_EQ(rig.run(kItems, true).failed, QList<int>({6}));
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
        {9, ExchangeOutcome::Stale, 1},         {10, ExchangeOutcome::DeviceLost, 1}};
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
    EXPECT_GT(log.at(4).discardedBytes, 0) << "the answer naming another item";
    EXPECT_GE(log.at(3).roundTripMs, kTimeout) << "silence waited the whole time-out";

    // Nothing goes out to a lost device, yet the attempt is recorded.
    rig.read();
    EXPECT_EQ(log.size(), 7);
    EXPECT_EQ(log.at(6).outcome, ExchangeOutcome::DeviceLost);
}

INSTANTIATE_TEST_SUITE_P(, LineIntegrity, test::allProtocols(),
                         ::testing::PrintToStringParamName());

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
    // One read; returns when its request went out.
    const auto exchange = [&] {
        EXPECT_EQ(rig.classify(rig.read()), kResponseOk);
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
            [&got](int item, int result, qint16 value) { got[item] = result ? -result : value; },
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
    int readItem(int item, qint16* got) {
        const QByteArray text = read(1, item);
        if (classify(text) == kResponseOk)
            *got = *value(text);
        return classify(text);
    }

    BlockReader reader{*com, 1, [this](int item, qint16* got) { return readItem(item, got); }};
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
