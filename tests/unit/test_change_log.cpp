// The change log. Property: on a scripted line answered by the virtual instrument with a
// seeded fault plan (refusals, silence, damaged answers, writes acknowledged but not
// kept, a device that goes away at a random request, Modbus broadcasts), every write a
// sequence sends has exactly one record, with the outcome the instrument gave it, the
// value written and the value before; nothing else is recorded. Then the file itself:
// torn last lines set aside, rotation keeping every line, a log that cannot be written
// stopping the write before anything is sent, and the commissioning record's CSV.
#include "RecordingView.h"
#include "ScriptedTransport.h"
#include "SimInstrument.h"
#include "TestPrinters.h"
#include "comm/SerialComm.h"
#include "transfer/ChangeLog.h"
#include "transfer/Commissioning.h"
#include "transfer/Compare.h"
#include "transfer/Sequences.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <map>

using namespace pmx;
using pmx::test::ScriptedTransport;

namespace {

constexpr int kTimeout = 100;

struct Dice {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
};

sim::Protocol simProtocol(qint16 protocol) {
    return protocol == kProtocolKorvan        ? sim::Protocol::Korvan
           : protocol == kProtocolModbusAscii ? sim::Protocol::ModbusAscii
                                              : sim::Protocol::ModbusRtu;
}

// Whether a request on the wire is a write (KORVAN "P", Modbus function 06), and of
// which item.
std::optional<int> writtenItem(qint16 protocol, const QByteArray& request) {
    if (protocol == kProtocolKorvan) {
        if (request.size() < 8 || request[3] != 'P')
            return std::nullopt;
        return request.mid(4, 4).toInt(nullptr, 16);
    }
    if (protocol == kProtocolModbusAscii) {
        if (request.size() < 11 || request.mid(3, 2) != "06")
            return std::nullopt;
        return request.mid(5, 4).toInt(nullptr, 16);
    }
    if (request.size() < 6 || quint8(request[1]) != 0x06)
        return std::nullopt;
    return (quint8(request[2]) << 8) | quint8(request[3]);
}

// One instrument with a fault plan behind a scripted line, and a log in a folder of its
// own.
struct Rig {
    Rig(qint16 protocol, qint16 station, std::uint64_t seed)
        : protocol(protocol), station(station),
          instrument(simProtocol(protocol), station), dice{seed}, log(dir.path()) {
        for (int i = 0; i < kItemCount; ++i) {
            instrument.setValue(i, qint16(dice.below(2000) - 1000));
            sim::Fault f;
            switch (dice.below(12)) {
            case 0:
                f.kind = sim::FaultKind::Nak;
                f.code = 1 + dice.below(4);
                break;
            case 1:
                f.kind = sim::FaultKind::ReadOnly;
                break;
            case 2:
                f.kind = sim::FaultKind::Silent;
                break;
            case 3:
                f.kind = sim::FaultKind::Ignore;
                break;
            case 4:
                f.kind = sim::FaultKind::BadSum;
                break;
            default:
                break;
            }
            faults[i] = f;
            instrument.setFault(i, f);
        }
        // The device goes away at a random request, in about a third of the runs.
        vanishAt = dice.below(3) == 0 ? 1 + dice.below(40) : -1;
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        line->responder = [this](const QByteArray& request) {
            ScriptedTransport::Reply reply;
            if (++requests == vanishAt) {
                reply.vanishOnWrite = true; // the request never reaches the instrument
                return reply;
            }
            if (const std::optional<int> item = writtenItem(this->protocol, request))
                attempted << *item;
            QByteArray bytes;
            for (const sim::Reply& r : instrument.feed(request))
                bytes += r.bytes;
            if (!bytes.isEmpty())
                reply.chunks.prepend(ScriptedTransport::Chunk{1, bytes});
            return reply;
        };
        com = std::make_unique<SerialComm>(
            std::move(t), [](const QString&) { return QStringLiteral("/dev/ttyLOG0"); });
        com->setConditions(
            {.protocol = ProtocolNumber(protocol), .instrument = station, .timeoutMs = kTimeout});
        opened = com->openPort();
    }

    qint16 protocol;
    qint16 station;
    sim::Instrument instrument;
    Dice dice;
    QTemporaryDir dir;
    ChangeLog log;
    std::map<int, sim::Fault> faults;
    int vanishAt = -1;
    int requests = 0;
    QList<int> attempted; // the items whose write request reached the instrument
    ScriptedTransport* line = nullptr;
    std::unique_ptr<SerialComm> com;
    bool opened = false;
};

QString code(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// What broke the promise in one seed's run (empty: nothing).
QStringList runSeed(qint16 protocol, std::uint64_t seed, int& refusedSeen) {
    QStringList broken;
    const bool modbus = protocol != kProtocolKorvan;
    const qint16 station = modbus && seed % 7 == 0 ? 0 : 1; // now and then a broadcast
    Rig rig(protocol, station, seed);
    if (!rig.opened)
        return {QStringLiteral("the port did not open")};
    ItemTable table;
    for (int i = 0; i < kItemCount; ++i)
        table.names[i] = QStringLiteral("Item %1").arg(i);
    test::RecordingView view;
    const bool verify = rig.dice.below(2) == 0;
    const bool readFirst = rig.dice.below(2) == 0;
    TransferContext ctx{table, *rig.com, view, verify, &rig.log, readFirst};

    // A read of some items first: their values are the "last read" of the records.
    for (int i = 0; i < kItemCount; ++i)
        table.selections[i] = rig.dice.below(4) == 0 ? Selection::Selected : Selection::Cleared;
    std::map<int, qint16> readValues;
    if (station != 0) {
        const TransferResult read = readAllItems(ctx);
        for (int i : read.good)
            readValues[i] = table.values[i];
    }
    std::array<qint16, kItemCount> held{};
    for (int i = 0; i < kItemCount; ++i)
        held[i] = rig.instrument.value(i);

    // Then a write of other values: all items, the listed ones, or the one changed.
    for (int i = 0; i < kItemCount; ++i) {
        table.selections[i] = rig.dice.below(3) == 0 ? Selection::Selected : Selection::Cleared;
        table.values[i] = qint16(rig.dice.below(2000) - 1000);
    }
    rig.attempted.clear();
    TransferResult w;
    switch (rig.dice.below(3)) {
    case 0:
        w = writeAllItems(ctx);
        break;
    case 1: {
        QList<int> some;
        for (int i = 0; i < kItemCount; ++i)
            if (rig.dice.below(2) == 0)
                some << i;
        w = writeListedItems(ctx, some);
        break;
    }
    default:
        table.currentItem = 1 + rig.dice.below(kItemCount - 1);
        table.selections[table.currentItem] = Selection::Selected;
        w = writeChangedItem(ctx);
        break;
    }
    if (!w.logError.isEmpty())
        return {QStringLiteral("log: ") + w.logError};

    int unreadable = 0;
    const QList<ChangeRecord> records = readChangeHistory(rig.dir.path(), &unreadable);
    if (unreadable != 0)
        broken << QStringLiteral("%1 unreadable lines").arg(unreadable);
    // A write whose request never went out (the device went away as it was sent) has its
    // record too, as lost.
    QList<int> expected = rig.attempted;
    for (const ChangeRecord& r : records)
        if (r.outcome == ChangeOutcome::Lost && !expected.contains(r.item))
            expected << r.item;
    QList<int> recorded;
    for (const ChangeRecord& r : records)
        recorded << r.item;
    QList<int> sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    sortedExpected.erase(std::unique(sortedExpected.begin(), sortedExpected.end()),
                         sortedExpected.end());
    QList<int> sortedRecorded = recorded;
    std::sort(sortedRecorded.begin(), sortedRecorded.end());
    if (sortedRecorded != sortedExpected)
        broken << QStringLiteral("records for %1, writes sent for %2")
                      .arg(itemListText(recorded), itemListText(expected));
    for (const ChangeRecord& r : records) {
        const QString at = itemAddressText(r.item) + QLatin1Char('h');
        const sim::Fault& f = rig.faults[r.item];
        const auto fail = [&](const QString& what) {
            broken << QStringLiteral("%1 (%2, fault %3): %4")
                          .arg(at, outcomeName(r.outcome))
                          .arg(int(f.kind))
                          .arg(what);
        };
        if (r.transfer != records.first().transfer)
            fail(QStringLiteral("transfer id differs within one transfer"));
        if (r.written != table.values[r.item])
            fail(QStringLiteral("written %1, table holds %2")
                     .arg(r.written)
                     .arg(table.values[r.item]));
        if (r.instrument != station || r.port != QLatin1String("COM1") || r.name.isEmpty())
            fail(QStringLiteral("instrument, port or name wrong"));
        // The value before: read just before the write, or the last read of this run.
        if (readFirst && station != 0 && r.beforeFrom == QLatin1String("read before write")) {
            if (r.before != held[r.item])
                fail(QStringLiteral("before %1, the instrument held %2")
                         .arg(r.before.value_or(-9999))
                         .arg(held[r.item]));
        } else if (const auto read = readValues.find(r.item); read != readValues.end()) {
            if (r.before != read->second || r.beforeFrom != QLatin1String("last read"))
                fail(QStringLiteral("before is not the last read"));
        } else if (r.before) {
            fail(QStringLiteral("a value before that nothing read"));
        }
        // A write confirmed whose read-back failed (or met the device gone) is a failure
        // of the transfer.
        const bool good =
            w.good.contains(r.item) || (verify && r.outcome == ChangeOutcome::Confirmed &&
                                        (w.failed.contains(r.item) || w.lost));
        if (r.outcome == ChangeOutcome::Lost) {
            if (r.item != records.last().item)
                fail(QStringLiteral("lost, but the write went on"));
            continue;
        }
        if (station == 0) {
            if (r.outcome != ChangeOutcome::Unconfirmed || !w.unconfirmed.contains(r.item))
                fail(QStringLiteral("a broadcast not recorded as unconfirmed"));
            continue;
        }
        switch (f.kind) {
        case sim::FaultKind::None:
        case sim::FaultKind::Ignore: {
            const bool kept = f.kind == sim::FaultKind::None || held[r.item] == r.written;
            const ChangeOutcome want = !verify ? ChangeOutcome::Confirmed
                                       : kept  ? ChangeOutcome::Verified
                                               : ChangeOutcome::NotKept;
            // A read-back cut short by the device going away leaves it confirmed.
            if (r.outcome != want && !(w.lost && r.outcome == ChangeOutcome::Confirmed))
                fail(QStringLiteral("expected %1").arg(outcomeName(want)));
            if (!good)
                fail(QStringLiteral("acknowledged, but not good in the result"));
            if (r.outcome == ChangeOutcome::NotKept && r.holds != held[r.item])
                fail(QStringLiteral("holds %1, the instrument %2")
                         .arg(r.holds.value_or(-9999))
                         .arg(held[r.item]));
            break;
        }
        case sim::FaultKind::Nak:
        case sim::FaultKind::ReadOnly: {
            // A refusal names only its function: with an earlier write still unanswered
            // the line cannot tell whose it is, and the write is one with no answer.
            const int c = f.kind == sim::FaultKind::Nak ? f.code : 3;
            if (r.outcome == ChangeOutcome::Refused ? r.code != code(c)
                                                    : r.outcome != ChangeOutcome::NoAnswer)
                fail(QStringLiteral("expected refused %1, code %2").arg(code(c), r.code));
            if (r.outcome == ChangeOutcome::Refused)
                ++refusedSeen;
            break;
        }
        case sim::FaultKind::Silent:
            if (r.outcome != ChangeOutcome::NoAnswer)
                fail(QStringLiteral("expected no answer"));
            break;
        default: // a damaged answer: never taken for a confirmation
            if (r.outcome != ChangeOutcome::Damaged && r.outcome != ChangeOutcome::NoAnswer)
                fail(QStringLiteral("a damaged answer recorded as %1").arg(outcomeName(r.outcome)));
            break;
        }
        if (good != (r.outcome == ChangeOutcome::Confirmed ||
                     r.outcome == ChangeOutcome::Verified || r.outcome == ChangeOutcome::NotKept))
            fail(QStringLiteral("the result and the record disagree"));
    }
    return broken;
}

class ChangeLogProperty : public ::testing::TestWithParam<qint16> {};

TEST_P(ChangeLogProperty, EveryWriteSentHasExactlyOneRecordWithItsOutcome) {
    const std::uint64_t seeds =
        qEnvironmentVariableIntValue("PMX_CHANGE_SEEDS") > 0
            ? std::uint64_t(qEnvironmentVariableIntValue("PMX_CHANGE_SEEDS"))
            : 150;
    int refused = 0;
    for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        const QStringList broken = runSeed(GetParam(), seed, refused);
        ASSERT_TRUE(broken.isEmpty()) << "seed " << seed << ":\n"
                                      << broken.join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_GT(refused, 0) << "the plans must bring refusals with their codes";
}

INSTANTIATE_TEST_SUITE_P(Protocols, ChangeLogProperty,
                         ::testing::Values(qint16(kProtocolKorvan), qint16(kProtocolModbusAscii),
                                           qint16(kProtocolModbusRtu)),
                         [](const auto& info) {
                             return info.param == kProtocolKorvan        ? std::string("Korvan")
                                    : info.param == kProtocolModbusAscii ? std::string("Ascii")
                                                                         : std::string("Rtu");
                         });

ChangeRecord sampleRecord(int item) {
    ChangeRecord r;
    r.time = QDateTime(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc());
    r.user = QStringLiteral("op\"1");
    r.host = QStringLiteral("bench");
    r.program = QStringLiteral("1.0.1");
    r.transfer = QStringLiteral("T1");
    r.kind = QStringLiteral("write");
    r.port = QStringLiteral("COM1");
    r.protocol = QStringLiteral("KORVAN");
    r.instrument = 1;
    r.item = item;
    r.name = QStringLiteral("警報 1");
    r.before = qint16(-5);
    r.beforeFrom = QStringLiteral("last read");
    r.written = 1500;
    r.outcome = ChangeOutcome::Refused;
    r.code = QStringLiteral("03");
    return r;
}

TEST(ChangeLogFile, ARecordReadsBackAsWritten) {
    const ChangeRecord r = sampleRecord(0x23);
    const std::optional<ChangeRecord> back = ChangeRecord::fromJson(r.toJson());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->toJson(), r.toJson());
    EXPECT_FALSE(r.toJson().contains('\n'));
    // Anything but a whole record is not taken for one.
    const QByteArray line = r.toJson();
    for (qsizetype cut = 0; cut < line.size(); ++cut)
        EXPECT_FALSE(ChangeRecord::fromJson(line.left(cut)).has_value()) << cut;
}

TEST(ChangeLogFile, ATornLastLineIsSetAsideAndTheOperatorTold) {
    QTemporaryDir dir;
    ChangeLog log(dir.path());
    ASSERT_TRUE(log.prepare(2).isEmpty());
    ASSERT_TRUE(log.append(sampleRecord(1)));
    ASSERT_TRUE(log.append(sampleRecord(2)));
    const QByteArray torn = sampleRecord(3).toJson().left(40);
    {
        QFile f(log.path());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(torn);
    }
    const QString notice = log.recover();
    EXPECT_FALSE(notice.isEmpty());
    const QStringList aside =
        QDir(dir.path()).entryList({QStringLiteral("changes.torn-*.jsonl")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(notice.contains(aside.first()));
    QFile kept(QDir(dir.path()).filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), torn + '\n');
    int unreadable = -1;
    EXPECT_EQ(readChangeHistory(dir.path(), &unreadable).size(), 2);
    EXPECT_EQ(unreadable, 0);
    EXPECT_TRUE(log.recover().isEmpty()); // told once
}

TEST(ChangeLogFile, RotationKeepsEveryLine) {
    QTemporaryDir dir;
    ChangeLog log(dir.path());
    log.setRotateBytes(1000);
    for (int n = 0; n < 30; ++n) {
        ASSERT_TRUE(log.prepare(1).isEmpty());
        ASSERT_TRUE(log.append(sampleRecord(n)));
    }
    EXPECT_GT(changeLogFiles(dir.path()).size(), 3);
    const QList<ChangeRecord> all = readChangeHistory(dir.path());
    ASSERT_EQ(all.size(), 30);
    for (int n = 0; n < 30; ++n)
        EXPECT_EQ(all[n].item, n);
}

TEST(ChangeLogFile, ALogThatCannotBeWrittenStopsTheWriteBeforeAnythingIsSent) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ChangeLog underAFile(dir.filePath(QStringLiteral("file/log")));
    ChangeLog full(dir.filePath(QStringLiteral("full")));
    full.setSpaceProbe([](const QString&) { return qint64(100); });
    for (ChangeLog* log : {&underAFile, &full}) {
        Rig rig(kProtocolKorvan, 1, 7);
        ItemTable table;
        for (int i = 1; i < 10; ++i)
            table.selections[i] = Selection::Selected;
        test::RecordingView view;
        TransferContext ctx{table, *rig.com, view, false, log};
        const TransferResult w = writeAllItems(ctx);
        EXPECT_FALSE(w.logError.isEmpty());
        EXPECT_TRUE(w.good.isEmpty() && w.failed.isEmpty());
        EXPECT_TRUE(rig.line->written.isEmpty()) << "nothing may reach the instrument";
        table.currentItem = 3;
        EXPECT_FALSE(writeChangedItem(ctx).logError.isEmpty());
        EXPECT_TRUE(rig.line->written.isEmpty());
    }
}

TEST(ChangeLogFile, ARecordThatCannotBeWrittenStopsTheWriteThere) {
    QTemporaryDir dir;
    // Every write to the log fails as on a full disk.
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/dev/full"), dir.filePath(QStringLiteral("changes.jsonl"))));
    ChangeLog log(dir.path());
    Rig rig(kProtocolKorvan, 1, 7);
    ItemTable table;
    for (int i = 1; i < 10; ++i)
        table.selections[i] = Selection::Selected;
    test::RecordingView view;
    TransferContext ctx{table, *rig.com, view, false, &log};
    const TransferResult w = writeAllItems(ctx);
    EXPECT_FALSE(w.logError.isEmpty());
    // Told before the write (no space could be reserved), or stopped at the first record.
    EXPECT_LE(rig.attempted.size(), 1) << "the write goes no further than the record that failed";
    if (!rig.attempted.isEmpty()) {
        EXPECT_TRUE(view.ended);
    }
}

TEST(Commissioning, TheCsvHoldsTheHeaderAndEveryRowInBothLanguages) {
    QList<ChangeRecord> records = {sampleRecord(0x23), sampleRecord(0x44)};
    records[1].outcome = ChangeOutcome::Verified;
    records[1].code.clear();
    records[1].tableFile = QStringLiteral("/data/line 3.dat");
    for (const strings::Lang lang : {strings::Lang::English, strings::Lang::Japanese}) {
        const QString csv = QString::fromUtf8(commissioningCsv(commissioningSheet(records, lang)));
        for (const QString& want :
             {strings::text(TextId::CommissioningTitle, lang), QStringLiteral("\"op\"\"1\""),
              QStringLiteral("COM1"), QStringLiteral("/data/line 3.dat"), QStringLiteral("0023h"),
              QStringLiteral("0044h"), QStringLiteral("警報 1"),
              strings::text(TextId::OutcomeRefusedCode, lang).arg(QStringLiteral("03")),
              strings::text(TextId::OutcomeVerified, lang)})
            EXPECT_TRUE(csv.contains(want)) << want.toStdString();
    }
}

} // namespace
