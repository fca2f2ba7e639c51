// Block reads: runs of registers in one request, split down to single items when the
// instrument refuses, each item ending as a per-item read would leave it.
#include "RecordingView.h"
#include "ScriptedTransport.h"

#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/Conditions.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"
#include "model/ItemTable.h"
#include "transfer/BlockRead.h"
#include "transfer/Sequences.h"

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
    qint16 protocol = kProtocolModbusRtu;
    QSet<int> undefined = {};
    int maxCount = 125;
    QList<int> counts = {};    // count of every request
    bool garbleBlocks = false; // answers of more than one register arrive with a bad check
    int vanishAtRequest = -1;  // the device goes away as this request (0-based) is written

    Reply answer(const QByteArray& request) {
        const QByteArray msg = protocol == kProtocolModbusRtu
                                   ? request.left(request.size() - 2)
                                   : QByteArray::fromHex(request.mid(1, request.size() - 5));
        const int first = (quint8(msg[2]) << 8) | quint8(msg[3]);
        const int count = (quint8(msg[4]) << 8) | quint8(msg[5]);
        counts << count;
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
        QByteArray frame = protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(out)
                                                            : framing::modbusRtuFrame(out);
        if (garbleBlocks && count > 1)
            frame[frame.size() - 3] = frame[frame.size() - 3] == '0' ? '1' : '0';
        Reply reply = Reply::whole(frame);
        reply.vanishOnWrite = counts.size() - 1 == vanishAtRequest;
        return reply;
    }
};

struct Rig {
    explicit Rig(qint16 protocol, const BlockInstrument& behaviour = {}) : instrument(behaviour) {
        instrument.protocol = protocol;
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        line->responder = [this](const QByteArray& r) { return instrument.answer(r); };
        com = std::make_unique<SerialComm>(
            std::move(t), [](const QString&) { return QStringLiteral("/dev/ttyFAKE0"); });
        com->setConditions(
            {.protocol = ProtocolNumber(protocol), .instrument = 1, .timeoutMs = 100});
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

TEST(BlockRuns, RunsOfSelectedAddresses) {
    const QSet<int> selected = {0, 1, 2, 5, 6, 7, 8, 9, 127};
    const auto runs = blockRuns([&](int i) { return selected.contains(i); }, 128, 3);
    EXPECT_EQ(runs, (QList<QPair<int, int>>{{0, 3}, {5, 3}, {8, 2}, {127, 1}}));
    EXPECT_EQ(blockRuns([](int) { return true; }, 128, 125).size(), 2);
}

TEST_P(BlockRead, OneRequestPerRunAndARefusedSpanIsSplitNotTakenForACountLimit) {
    Rig rig(GetParam());
    EXPECT_EQ(rig.read(0, 125), expected(0, 125, {}));
    EXPECT_EQ(rig.read(125, 3), expected(125, 3, {}));
    EXPECT_EQ(rig.instrument.counts, QList<int>({125, 3}));

    rig.instrument.undefined = {40};
    rig.instrument.counts.clear();
    EXPECT_EQ(rig.read(0, 64), expected(0, 64, {40}));
    // The split costs about two requests per level, not one per item.
    EXPECT_LT(rig.instrument.counts.size(), 16);
    EXPECT_EQ(rig.reader->learnedLimit(), BlockReader::kMaxRegisters) << "a span, not a count";
    rig.instrument.counts.clear();
    EXPECT_EQ(rig.read(41, 87), expected(41, 87, {}));
    EXPECT_EQ(rig.instrument.counts, QList<int>({87})) << "exception 02 is no count limit";
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

// The read of all items with block reads on against the same read item by item.

struct ReadAll {
    TransferResult result;
    QList<qint16> values;
    QList<QPair<int, int>> errors;
    int progress = 0;
    int lost = 0;
    int requests = 0;
};

ReadAll readAll(qint16 protocol, bool blocks, const BlockInstrument& instrument,
                const QSet<int>& unselected = {}, int blockMax = 125, int stopAfterEvents = -1) {
    Rig rig(protocol, instrument);
    Conditions c = rig.com->conditions();
    c.blockRead = blocks;
    c.blockMax = blockMax;
    rig.com->setConditions(c);
    ItemTable table;
    for (int i = 0; i < kItemCount; ++i) {
        table.values[i] = -1;
        table.selections[i] = unselected.contains(i) ? Selection::Cleared : Selection::Selected;
    }
    test::RecordingView view;
    view.stopAfterEvents = stopAfterEvents;
    TransferContext ctx{table, *rig.com, view};
    const TransferResult result = readAllItems(ctx);
    return {result,
            QList<qint16>(std::begin(table.values), std::end(table.values)),
            view.errors,
            view.progress,
            int(view.lost.size()),
            int(rig.instrument.counts.size())};
}

TEST_P(BlockRead, ReadOfAllItemsEndsAsTheItemByItemRead) {
    const struct {
        const char* name;
        BlockInstrument instrument;
        QSet<int> unselected = {};
        int blockMax = 125;
        bool saves = true; // fewer requests than item by item
    } faults[] = {
        {"accepts every block", {}},
        {"undefined addresses", {.undefined = {0, 40, 41, 127}}},
        {"count limit", {.maxCount = 7}},
        // Every block garbled: the split down to single items, each block tried three times.
        {"bad checks on blocks", {.garbleBlocks = true}, {}, 125, false},
        {"gaps in the selection", {.undefined = {12}}, {3, 4, 5, 64, 100, 126}, 16},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        const ReadAll single = readAll(GetParam(), false, f.instrument, f.unselected, f.blockMax);
        const ReadAll block = readAll(GetParam(), true, f.instrument, f.unselected, f.blockMax);
        EXPECT_EQ(block.values, single.values);
        EXPECT_EQ(block.result.good, single.result.good);
        EXPECT_EQ(block.result.failed, single.result.failed);
        EXPECT_EQ(block.result.failedMessage, single.result.failedMessage);
        EXPECT_EQ(block.errors, single.errors);
        EXPECT_EQ(block.progress, kItemCount);
        if (f.saves) {
            EXPECT_LT(block.requests, single.requests);
        }
    }
}

TEST_P(BlockRead, StopAndLostDeviceEndTheReadOnce) {
    // Stop asked for: no request after it, nothing recorded as failed.
    const ReadAll stopped = readAll(GetParam(), true, {}, {}, 16, 3);
    EXPECT_TRUE(stopped.result.stopped);
    EXPECT_TRUE(stopped.result.failed.isEmpty());
    EXPECT_LT(stopped.requests, 8);
    // The device goes away as the third block is written, and again during a split.
    for (const auto& [vanishAt, undefined] :
         {std::pair{2, QSet<int>{}}, std::pair{3, QSet<int>{5}}}) {
        SCOPED_TRACE(vanishAt);
        const ReadAll lost = readAll(GetParam(), true,
                                     {.undefined = undefined, .vanishAtRequest = vanishAt}, {}, 16);
        EXPECT_TRUE(lost.result.lost);
        EXPECT_EQ(lost.lost, 1);
        EXPECT_TRUE(lost.result.failed.isEmpty() || lost.result.failed == QList<int>{5})
            << "no item fails for the loss";
        EXPECT_EQ(lost.requests, vanishAt + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Modbus, BlockRead,
                         ::testing::Values(kProtocolModbusAscii, kProtocolModbusRtu),
                         [](const auto& info) {
                             return info.param == kProtocolModbusAscii ? "ascii" : "rtu";
                         });

} // namespace
