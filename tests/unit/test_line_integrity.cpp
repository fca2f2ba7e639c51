// An answer belongs to its request: late answers, answers that name another item, a
// device that goes away and Modbus broadcasts, through the real sequences and serial
// object on a scripted line with a virtual clock.
#include "ScriptedTransport.h"

#include "comm/Checksums.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"
#include "transfer/Sequences.h"

#include <QMap>
#include <QSet>
#include <gtest/gtest.h>

using namespace pmx;
using pmx::test::ScriptedTransport;
using Reply = ScriptedTransport::Reply;

namespace {

constexpr int kTimeout = 200;

// A scripted instrument: memory of item i = 1000 + i, answers in the order of the
// requests (a late answer holds back the ones after it, as a busy instrument does).
struct Instrument {
    qint16 protocol;
    ScriptedTransport* line = nullptr;
    QMap<int, int> lateMs;     // item -> how late its answer is
    QSet<int> refused;         // item -> NAK 03 / exception 03 on write
    QMap<int, int> echoItem;   // item -> the item its answer names instead
    int vanishAt = -1;         // the device goes away as this item's request is written
    int everyAnswerLateMs = 0; // for all items
    qint64 busyUntil = 0;

    Reply answer(const QByteArray& request) {
        const bool korvan = protocol == kProtocolKorvan;
        QByteArray msg = korvan ? QByteArray() : message(request);
        const int item = korvan ? request.mid(4, 4).toInt(nullptr, 16)
                                : (quint8(msg[2]) << 8 | quint8(msg[3]));
        const bool write = korvan ? request[3] == 'P' : msg[1] == '\x06';
        if (item == vanishAt)
            return Reply{{}, false, true};
        const int named = echoItem.value(item, item);
        QByteArray frame;
        if (korvan) {
            const QByteArray head = request.mid(1, 3) + itemHex(named);
            QByteArray body = head;
            char lead = framing::kAck;
            if (write && refused.contains(item)) {
                lead = framing::kNak;
                body += "03";
            } else if (!write) {
                body += itemHex(1000 + named);
            }
            body += framing::kEtx;
            frame = lead + body + checksum::hex2(checksum::bcc(body));
        } else {
            QByteArray out = msg.left(2);
            if (write && refused.contains(item))
                out = msg.left(1) + char(0x86) + char(3);
            else if (write)
                out = msg.left(2) + char(named >> 8) + char(named & 0xFF) + msg.mid(4, 2);
            else
                out += QByteArray(1, 2) + char((1000 + named) >> 8) + char((1000 + named) & 0xFF);
            frame = protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(out)
                                                     : framing::modbusRtuFrame(out);
        }
        const qint64 now = line->clockMs();
        const qint64 due =
            std::max(now + 1 + everyAnswerLateMs + lateMs.value(item, 0), busyUntil + 1);
        busyUntil = due;
        return Reply::whole(frame, int(due - now));
    }

    QByteArray message(const QByteArray& request) const {
        if (protocol == kProtocolModbusRtu)
            return request.left(request.size() - 2);
        return QByteArray::fromHex(request.mid(1, request.size() - 5));
    }
    static QByteArray itemHex(int v) {
        return QByteArray::number(v & 0xFFFF, 16).rightJustified(4, '0').toUpper();
    }
};

class View : public TransferView {
  public:
    void progressStart() override {}
    void progressStep() override {}
    void progressEnd() override {}
    void showError(int, int) override {}
    void processEvents() override {}
    bool selectionBoxTicked(int) override { return true; }
    void connectionLost(const QString& device) override { lost << device; }
    void notice(const QString& text) override { notices << text; }
    QStringList lost;
    QStringList notices;
};

struct Rig {
    explicit Rig(qint16 protocol) : instrument{protocol} {
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        instrument.line = line;
        line->responder = [this](const QByteArray& r) { return instrument.answer(r); };
        com = std::make_unique<SerialComm>(std::move(t), [](const QString&) {
            return QStringLiteral("/dev/ttyFAKE0");
        });
        com->ProtocolNo = protocol;
        com->Timeout = kTimeout;
        com->Rate = QStringLiteral("9600");
        EXPECT_TRUE(com->OpenPort());
        table.ItemData.fill(-7); // a value no answer carries
    }
    TransferResult run(const QList<int>& items, bool write) {
        table.ItemSel.fill(0);
        for (int i : items)
            table.ItemSel[i] = 1;
        TransferContext ctx{table, *com, instNo, view};
        return write ? WriteAllItems(ctx) : ReadAllItems(ctx);
    }
    // Every stored value is the item's own or untouched; returns the items stored.
    QList<int> storedItems() const {
        QList<int> stored;
        for (int i = 0; i < kItemCount; ++i) {
            if (table.ItemData[i] == -7)
                continue;
            EXPECT_EQ(table.ItemData[i], 1000 + i) << "item " << i << " holds another's value";
            stored << i;
        }
        return stored;
    }

    Instrument instrument;
    ScriptedTransport* line;
    std::unique_ptr<SerialComm> com;
    ItemTable table;
    qint16 instNo = 1;
    View view;
};

class LineIntegrity : public ::testing::TestWithParam<qint16> {};

const QList<int> kItems = {5, 6, 7, 8, 9, 10};

// Late: the answer begins this long after its request, past the time-out; the promise
// holds up to twice the time-out.
TEST_P(LineIntegrity, EveryAnswerLateStoresNothingAndReportsNothingGood) {
    for (const int late : {kTimeout * 5 / 4, kTimeout * 3 / 2, kTimeout * 19 / 10}) {
        Rig rig(GetParam());
        rig.instrument.everyAnswerLateMs = late;
        const TransferResult read = rig.run(kItems, false);
        EXPECT_TRUE(read.good.isEmpty()) << "late by " << late;
        EXPECT_TRUE(rig.storedItems().isEmpty());
        const TransferResult write = rig.run(kItems, true);
        EXPECT_TRUE(write.good.isEmpty()) << "late by " << late;
    }
}

TEST_P(LineIntegrity, OneLateAnswerIsNotTakenForTheNextItem) {
    Rig rig(GetParam());
    rig.instrument.lateMs[7] = kTimeout * 3 / 2;
    const TransferResult read = rig.run(kItems, false);
    EXPECT_EQ(read.failed, QList<int>({7}));
    EXPECT_EQ(rig.storedItems(), QList<int>({5, 6, 8, 9, 10}));

    // A refusal right after a late acknowledgement stays a refusal of its own item.
    rig.instrument.refused = {8};
    const TransferResult write = rig.run(kItems, true);
    EXPECT_EQ(write.failed, QList<int>({7, 8}));
    EXPECT_EQ(write.good, QList<int>({5, 6, 9, 10}));
}

// KORVAN answers echo the item of reads and writes, Modbus only those of writes (a 03
// answer names no register, so there the quiet line is the guard).
TEST_P(LineIntegrity, AnswerNamingAnotherItemIsNeverTaken) {
    Rig rig(GetParam());
    rig.instrument.echoItem[6] = 9;
    if (GetParam() == kProtocolKorvan) {
        const TransferResult read = rig.run(kItems, false);
        EXPECT_EQ(read.failed, QList<int>({6}));
        EXPECT_FALSE(rig.storedItems().contains(6));
    }
    const TransferResult write = rig.run(kItems, true);
    EXPECT_EQ(write.failed, QList<int>({6}));
}

TEST_P(LineIntegrity, AnswerBegunBeforeTheTimeOutGetsItsWireTime) {
    Rig rig(GetParam());
    // The first byte just inside the time-out, the rest at 2400 bit/s (4 ms a character).
    rig.line->responder = [&rig](const QByteArray& request) {
        Reply whole = rig.instrument.answer(request);
        const QByteArray frame = whole.chunks.front().bytes;
        Reply slow = Reply::pieces(frame, 1, 4);
        slow.chunks.front().delayMs = kTimeout - 2;
        return slow;
    };
    rig.run({7}, false);
    EXPECT_EQ(rig.storedItems(), QList<int>({7}));
}

TEST_P(LineIntegrity, DeviceGoneStopsTheSequenceWithOneReport) {
    Rig rig(GetParam());
    rig.instrument.vanishAt = 8;
    const TransferResult read = rig.run(kItems, false);
    EXPECT_TRUE(read.lost);
    EXPECT_EQ(read.good, QList<int>({5, 6, 7}));
    EXPECT_TRUE(read.failed.isEmpty()) << "a lost device is not an item failure";
    EXPECT_EQ(rig.view.lost, QStringList({"/dev/ttyFAKE0"}));
    EXPECT_TRUE(rig.com->deviceLost());
    const qsizetype sent = rig.line->written.size();
    rig.run(kItems, true);
    EXPECT_EQ(rig.line->written.size(), sent) << "nothing is sent to a lost device";
    EXPECT_EQ(rig.view.lost.size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Protocols, LineIntegrity,
                         ::testing::Values(kProtocolKorvan, kProtocolModbusAscii,
                                           kProtocolModbusRtu),
                         [](const auto& info) {
                             return info.param == kProtocolKorvan        ? "korvan"
                                    : info.param == kProtocolModbusAscii ? "ascii"
                                                                         : "rtu";
                         });

TEST(LineIntegrity, SilentInstrumentCostsOneTimeOutKorvanTwoModbus) {
    for (const qint16 protocol : {kProtocolKorvan, kProtocolModbusAscii, kProtocolModbusRtu}) {
        Rig rig(protocol);
        rig.line->responder = {};
        const qint64 start = rig.line->clockMs();
        rig.run(kItems, false);
        const double perItem = double(rig.line->clockMs() - start) / kItems.size() / kTimeout;
        // Modbus: the first item needs no quiet before it.
        EXPECT_GE(perItem, protocol == kProtocolKorvan ? 1.0 : 1.8) << protocol;
        EXPECT_LE(perItem, protocol == kProtocolKorvan ? 1.05 : 2.05) << protocol;
    }
}

TEST(LineIntegrity, ModbusStationZeroBroadcastsWritesAndDoesNotRead) {
    for (const qint16 protocol : {kProtocolModbusAscii, kProtocolModbusRtu}) {
        Rig rig(protocol);
        rig.instNo = 0;
        rig.line->responder = {}; // nobody answers a broadcast
        const TransferResult read = rig.run(kItems, false);
        EXPECT_TRUE(read.readsImpossible);
        EXPECT_TRUE(rig.line->written.isEmpty());
        ASSERT_EQ(rig.view.notices.size(), 1);

        const TransferResult write = rig.run(kItems, true);
        EXPECT_EQ(write.unconfirmed, kItems);
        EXPECT_TRUE(write.good.isEmpty());
        EXPECT_TRUE(write.failed.isEmpty());
        ASSERT_EQ(rig.line->written.size(), kItems.size());
        for (qsizetype i = 1; i < rig.line->writeTimes.size(); ++i) {
            const qint64 gap = rig.line->writeTimes[i] - rig.line->writeTimes[i - 1];
            EXPECT_GE(gap, SerialComm::kBroadcastTurnaroundMs);
            EXPECT_LT(gap, kTimeout) << "a broadcast is not waited for";
        }
        EXPECT_EQ(rig.view.notices.size(), 2);
    }
    // KORVAN keeps 0 as an ordinary instrument.
    Rig korvan(kProtocolKorvan);
    korvan.instNo = 0;
    EXPECT_EQ(korvan.run({7}, false).good, QList<int>({7}));
}

} // namespace
