// The virtual instrument's logic. Its answers to good requests and its per-item faults are
// exercised through the real serial object in the end-to-end tests; here what a real client
// never sends: malformed requests, broken streams, other stations, broadcasts, and answers
// that belong to another request.
#include "SimFrames.h"
#include "SimInstrument.h"

#include <gtest/gtest.h>

using namespace pmx::sim;
using namespace pmx::sim::test;

namespace {

// The bytes answered to everything `input` completes.
QByteArray answers(Instrument& inst, const QByteArray& input, bool thenIdle = false) {
    QByteArray out;
    for (const Reply& r : inst.feed(input))
        out += r.bytes;
    if (thenIdle)
        for (const Reply& r : inst.lineIdle())
            out += r.bytes;
    return out;
}

} // namespace

TEST(SimKorvan, ErrorAnswersCarryTheirCode) {
    Instrument inst(Protocol::Korvan, 0);
    const struct {
        QByteArray request, response;
    } cases[] = {
        {korvanRequest(0, ' ', "0080"), korvanResponse('\x15', "   008001")}, // no such item
        {korvanRequest(0, 'q', "0001"), korvanResponse('\x15', "  q000102")}, // unknown command
        {korvanRequest(0, ' ', "00G1"), korvanResponse('\x15', "   00G104")},
        {korvanRequest(0, ' ', "0001", "0000"), korvanResponse('\x15', "   000104")},
        {korvanRequest(0, 'P', "0001"), korvanResponse('\x15', "  P000104")},
        {korvanRequest(0, 'P', "0001", "12X4"), korvanResponse('\x15', "  P000104")},
        // Lower-case hexadecimal is accepted on input.
        {korvanRequest(0, 'P', "007f", "7fff"), korvanResponse('\x06', "  P007f")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hexText(c.request));
        EXPECT_EQ(answers(inst, c.request), c.response);
    }
    EXPECT_EQ(inst.value(1), 99);
    EXPECT_EQ(inst.value(0x7F), 32767);

    // Wrong BCC: the ESC answer echoing the request, and no write.
    QByteArray bad = korvanRequest(0, 'P', "0001", "0005");
    bad[bad.size() - 1] = bad[bad.size() - 1] == '0' ? '1' : '0';
    const auto replies = inst.feed(bad);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, korvanResponse('\x1B', "  P0001"));
    EXPECT_EQ(replies[0].logLine, "korvan W 0001 0005 -> ESC");
    EXPECT_EQ(inst.value(1), 99);
}

TEST(SimKorvan, DelimitingAndAddresses) {
    Instrument inst(Protocol::Korvan, 3);
    // Another instrument's request: logged, not answered.
    auto replies = inst.feed(korvanRequest(4, ' ', "0001"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    EXPECT_EQ(replies[0].logLine, "korvan ? -> ignored (address 24)");

    // Byte by byte, after junk, and a cut-off frame restarted by a new STX.
    const QByteArray stream = "zz" + korvanRequest(3, ' ', "0002").left(5) +
                              korvanRequest(3, ' ', "0002") + korvanRequest(3, ' ', "0003");
    QByteArray out;
    for (char c : stream)
        out += answers(inst, QByteArray(1, c));
    EXPECT_EQ(out, korvanResponse('\x06', "#  000200C7") + korvanResponse('\x06', "#  0003012B"));
    EXPECT_EQ(inst.pendingBytes(), 0);

    // STX and far too much without ETX: dropped, nothing answered, nothing kept forever.
    EXPECT_TRUE(answers(inst, "\x02" + QByteArray(100, 'A')).isEmpty());
    EXPECT_LE(inst.pendingBytes(), 34);
    EXPECT_EQ(answers(inst, korvanRequest(3, ' ', "0000")).left(1), "\x06");
}

class SimModbus : public ::testing::TestWithParam<Protocol> {};

TEST_P(SimModbus, ExceptionsOtherStationsAndSpoiledFrames) {
    const Protocol p = GetParam();
    Instrument inst(p, 0x0A);
    const struct {
        const char* request;
        const char* response;
    } cases[] = {
        {"0A0300430002", "0A03041A2B1A8F"},                            // two registers
        {"0A0300800001", "0A8302"},                                    // no such item
        {"0A03007F0002", "0A8302"},                                    // runs past the last item
        {"0A0300000000", "0A8303"},                                    // no quantity
        {"0A0600800001", "0A8602"},         {"0B0300440001", nullptr}, // another station
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(answers(inst, modbusFrame(p, c.request), true),
                  c.response ? modbusFrame(p, c.response) : QByteArray());
    }
    // An unknown function; under RTU it can only end at a silence.
    EXPECT_EQ(answers(inst, modbusFrame(p, "0A100044000102FFFF"), true), modbusFrame(p, "0A9001"));

    QByteArray spoiled = modbusFrame(p, "0A0600010005");
    spoiled[p == Protocol::ModbusAscii ? spoiled.size() - 3 : spoiled.size() - 1] ^= 0x01;
    EXPECT_TRUE(answers(inst, spoiled, true).isEmpty());
    EXPECT_EQ(inst.value(1), 99);
}

TEST_P(SimModbus, BlockFaultsRefuseSpansAndLargeCounts) {
    const Protocol p = GetParam();
    Instrument inst(p, 0x0A);
    inst.setRefuseSpan(0x43);
    inst.setMaxCount(3);
    const struct {
        const char* request;
        const char* response;
    } cases[] = {
        {"0A0300430001", "0A03021A2B"},         // the item alone is answered
        {"0A0300420002", "0A8302"},             // a block spanning it is not
        {"0A0300440003", "0A03061A8F1AF31B57"}, // three beside it
        {"0A0300440004", "0A8303"},             // more than the instrument takes
        {"0A0300400004", "0A8303"},             // the count is refused first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(answers(inst, modbusFrame(p, c.request), true), modbusFrame(p, c.response));
    }
}

TEST_P(SimModbus, BroadcastIsCarriedOutAndNeverAnswered) {
    const Protocol p = GetParam();
    Instrument inst(p, 0x0A);
    inst.setFault(0x12, {FaultKind::ReadOnly});
    inst.setFault(0x14, {FaultKind::Garbage});
    const struct {
        const char* request;
        int item, value; // the memory afterwards
        const char* log;
    } cases[] = {
        {"000600441234", 0x44, 0x1234, "W 0044 1234 -> none (broadcast)"},
        {"000300440001", 0x44, 0x1234, "R 0044 -> none (broadcast)"},
        {"000600140005", 0x14, 5, "W 0014 0005 -> none (broadcast)"}, // no garbage either
        {"000600120005", 0x12, 1799, "W 0012 0005 -> none (broadcast; EXC 03 readonly)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const auto replies = inst.feed(modbusFrame(p, c.request));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_TRUE(replies[0].bytes.isEmpty() && replies[0].addressed);
        EXPECT_EQ(replies[0].logLine,
                  QString(protocolName(p) + QLatin1Char(' ') + QLatin1String(c.log)));
        EXPECT_EQ(inst.value(c.item), c.value);
    }
    EXPECT_EQ(answers(inst, modbusFrame(p, "0A0300440001")), modbusFrame(p, "0A03021234"));
}

INSTANTIATE_TEST_SUITE_P(, SimModbus, ::testing::Values(Protocol::ModbusAscii, Protocol::ModbusRtu),
                         ::testing::PrintToStringParamName());

TEST(SimRtu, DelimitedByLengthOrSilence) {
    const Protocol rtu = Protocol::ModbusRtu;
    Instrument inst(rtu, 2);
    // Junk in front of a request: the request is found by its CRC.
    EXPECT_EQ(answers(inst, QByteArray::fromHex("FF00") + modbusFrame(rtu, "020300010001")),
              modbusFrame(rtu, "0203020063"));
    // A half request followed by silence is dropped; the next request is served.
    EXPECT_TRUE(answers(inst, modbusFrame(rtu, "020300010001").left(5), true).isEmpty());
    EXPECT_EQ(inst.pendingBytes(), 0);
    EXPECT_EQ(answers(inst, modbusFrame(rtu, "020300010001")), modbusFrame(rtu, "0203020063"));
}

TEST(SimKorvan, LogNamesItemsAndGlobalSilenceAnswersNothing) {
    Instrument inst(Protocol::Korvan, 0);
    inst.setFault(5, {FaultKind::Nak, 2, 0});
    QStringList names;
    for (int i = 0; i < kItemCount; ++i)
        names << QStringLiteral("Item %1").arg(i);
    inst.setItemNames(names);
    auto replies = inst.feed(korvanRequest(0, ' ', "0005"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, korvanResponse('\x15', "   000502"));
    EXPECT_EQ(replies[0].logLine, "korvan R 0005 -> NAK 02 nak \"Item 5\"");

    inst.setSilent(true);
    replies = inst.feed(korvanRequest(0, 'P', "0020", "0009"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    EXPECT_EQ(replies[0].logLine, "korvan W 0020 0009 -> ACK silent \"Item 32\"");
}

TEST(SimFaults, EchoAnswersForAnotherItemWithAGoodChecksum) {
    const Protocol k = Protocol::Korvan, a = Protocol::ModbusAscii, r = Protocol::ModbusRtu;
    // Item 0010h answers for 0020h (which holds 0C7F); a write still changes 0010h.
    const struct {
        Protocol p;
        QByteArray request, response;
        int written; // item 0010h afterwards
    } cases[] = {
        {k, korvanRequest(1, ' ', "0010"), korvanResponse('\x06', "!  00200C7F"), 1599},
        {k, korvanRequest(1, 'P', "0010", "0007"), korvanResponse('\x06', "! P0020"), 7},
        {a, modbusFrame(a, "010600100007"), modbusFrame(a, "010600200007"), 7},
        {r, modbusFrame(r, "010300100001"), modbusFrame(r, "0103020C7F"), 1599},
        // Several registers: only the faulty item's place carries the other value.
        {r, modbusFrame(r, "0103000E0004"), modbusFrame(r, "010308057705DB0C7F06A3"), 1599},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hexText(c.request));
        Instrument inst(c.p, 1);
        inst.setFault(0x10, {FaultKind::Echo, 4, 0, 0x20});
        EXPECT_EQ(answers(inst, c.request), c.response);
        EXPECT_EQ(inst.value(0x10), c.written);
    }
}
