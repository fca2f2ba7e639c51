// Block reads: runs of registers in one request, split down to single items when the
// instrument refuses, each item ending as a per-item read would leave it.
#include "ScriptedTransport.h"

#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/Conditions.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"
#include "model/ItemTable.h"
#include "transfer/BlockRead.h"

#include <QMap>
#include <QSet>
#include <gtest/gtest.h>

using namespace pmx;
using pmx::test::ScriptedTransport;
using Reply = ScriptedTransport::Reply;

namespace {

// A Modbus instrument: register i holds 1000 + i; registers in `undefined` do not exist
// (exception 02 for any request touching them), and counts above `maxCount` get
// exception 03.
struct BlockInstrument {
    qint16 protocol;
    QSet<int> undefined;
    int maxCount = 125;
    QList<int> counts; // count of every request

    Reply answer(const QByteArray& request) const {
        const QByteArray msg = protocol == kProtocolModbusRtu
                                   ? request.left(request.size() - 2)
                                   : QByteArray::fromHex(request.mid(1, request.size() - 5));
        const int first = (quint8(msg[2]) << 8) | quint8(msg[3]);
        const int count = (quint8(msg[4]) << 8) | quint8(msg[5]);
        QByteArray out = msg.left(2);
        bool refused = count > maxCount;
        for (int i = first; i < first + count; ++i)
            refused = refused || undefined.contains(i);
        if (refused) {
            out = msg.left(1) + char(0x83) + char(count > maxCount ? 3 : 2);
        } else {
            out += char(2 * count);
            for (int i = first; i < first + count; ++i)
                out += char((1000 + i) >> 8) + QByteArray(1, char((1000 + i) & 0xFF));
        }
        return Reply::whole(protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(out)
                                                             : framing::modbusRtuFrame(out));
    }
};

struct Rig {
    explicit Rig(qint16 protocol) : instrument{protocol} {
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        line->responder = [this](const QByteArray& r) {
            const QByteArray msg = instrument.protocol == kProtocolModbusRtu
                                       ? r.left(r.size() - 2)
                                       : QByteArray::fromHex(r.mid(1, r.size() - 5));
            instrument.counts << ((quint8(msg[4]) << 8) | quint8(msg[5]));
            return instrument.answer(r);
        };
        com = std::make_unique<SerialComm>(std::move(t), [](const QString&) {
            return QStringLiteral("/dev/ttyFAKE0");
        });
        Conditions c;
        c.protocol = ProtocolNumber(protocol);
        c.timeoutMs = 100;
        com->setConditions(c);
        EXPECT_TRUE(com->openPort());
        reader = std::make_unique<BlockReader>(*com, 1, [this](int item, qint16* value) {
            qint16 inst = 1;
            QByteArray sub, cmd("03"), no = itemAddressText(item).toLatin1(), data;
            qint16 retn = 3;
            const QByteArray text = sendItemCommand(*com, inst, sub, cmd, no, data, retn);
            const int result = classifyResponse(text, com->conditions().protocol, "03");
            if (result == 0)
                *value = *decodeDataField(com->extractData(text, 1));
            return result;
        });
    }
    // Reads items [first, first + count); item -> value or -message id.
    QMap<int, int> read(int first, int count) {
        QMap<int, int> got;
        reader->readRun(
            first, count,
            [&got](int item, int result, qint16 value) { got[item] = result ? -result : value; },
            [] { return true; });
        return got;
    }

    BlockInstrument instrument;
    ScriptedTransport* line;
    std::unique_ptr<SerialComm> com;
    std::unique_ptr<BlockReader> reader;
};

QMap<int, int> expected(int first, int count, const QSet<int>& undefined) {
    QMap<int, int> m;
    for (int i = first; i < first + count; ++i)
        m[i] = undefined.contains(i) ? -kResponseCommError : 1000 + i;
    return m;
}

class BlockRead : public ::testing::TestWithParam<qint16> {};

TEST_P(BlockRead, RunsOfSelectedAddresses) {
    const QSet<int> selected = {0, 1, 2, 5, 6, 7, 8, 9, 127};
    const auto runs = blockRuns([&](int i) { return selected.contains(i); }, 128, 3);
    EXPECT_EQ(runs, (QList<QPair<int, int>>{{0, 3}, {5, 3}, {8, 2}, {127, 1}}));
    EXPECT_EQ(blockRuns([](int) { return true; }, 128, 125).size(), 2);
}

TEST_P(BlockRead, WholeTableInTwoRequests) {
    Rig rig(GetParam());
    EXPECT_EQ(rig.read(0, 125), expected(0, 125, {}));
    EXPECT_EQ(rig.read(125, 3), expected(125, 3, {}));
    EXPECT_EQ(rig.instrument.counts, QList<int>({125, 3}));
}

TEST_P(BlockRead, RefusedSpanIsSplitAndEveryItemEndsAsAlone) {
    Rig rig(GetParam());
    rig.instrument.undefined = {40};
    EXPECT_EQ(rig.read(0, 64), expected(0, 64, {40}));
    // The split costs about two requests per level, not one per item.
    EXPECT_LT(rig.instrument.counts.size(), 16);
    EXPECT_EQ(rig.reader->learnedLimit(), BlockReader::kMaxRegisters) << "a span, not a count";
}

TEST_P(BlockRead, CountLimitIsLearnedOnce) {
    Rig rig(GetParam());
    rig.instrument.maxCount = 20;
    EXPECT_EQ(rig.read(0, 125), expected(0, 125, {}));
    EXPECT_LE(rig.reader->learnedLimit(), 20);
    rig.instrument.counts.clear();
    EXPECT_EQ(rig.read(0, 125), expected(0, 125, {}));
    for (int count : rig.instrument.counts)
        EXPECT_LE(count, 20) << "refused again after it was learned";
}

INSTANTIATE_TEST_SUITE_P(Modbus, BlockRead,
                         ::testing::Values(kProtocolModbusAscii, kProtocolModbusRtu),
                         [](const auto& info) {
                             return info.param == kProtocolModbusAscii ? "ascii" : "rtu";
                         });

} // namespace
