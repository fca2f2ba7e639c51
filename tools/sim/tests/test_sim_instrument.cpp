#include "SimInstrument.h"
#include "comm/Checksums.h"

#include <gtest/gtest.h>

using namespace pmx::sim;
using pmx::checksum::bcc;
using pmx::checksum::crc16;
using pmx::checksum::hex2;
using pmx::checksum::lrc;

namespace {

QByteArray korvanRequest(int inst, char command, const QByteArray& item,
                         const QByteArray& data = {}) {
    const QByteArray body = QByteArray(1, char(inst + 0x20)) + ' ' + command + item + data + '\x03';
    return '\x02' + body + hex2(bcc(body));
}

QByteArray korvanResponse(char lead, const QByteArray& body) {
    const QByteArray b = body + '\x03';
    return QByteArray(1, lead) + b + hex2(bcc(b));
}

// Modbus request from its ADU bytes (address, function, data) in either protocol.
QByteArray modbusFrame(Protocol p, const QByteArray& adu) {
    if (p == Protocol::ModbusAscii) {
        QByteArray out = ":";
        for (char c : adu)
            out += hex2(std::uint8_t(c));
        return out + hex2(lrc(adu)) + "\r\n";
    }
    const std::uint16_t crc = crc16(adu);
    return adu + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray adu(int inst, int fn, int a, int b) {
    QByteArray out;
    out += char(inst);
    out += char(fn);
    out += char(a >> 8);
    out += char(a & 0xFF);
    out += char(b >> 8);
    out += char(b & 0xFF);
    return out;
}

QByteArray single(Instrument& inst, const QByteArray& request) {
    const auto replies = inst.feed(request);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? QByteArray() : replies.front().bytes;
}

} // namespace

TEST(SimKorvan, ReadWriteAndTheContractExample) {
    Instrument inst(Protocol::Korvan, 1);
    // The framing contract's example request: read of item 0044h from instrument 1.
    const QByteArray example = QByteArray("\x02\x21\x20\x20\x30\x30\x34\x34\x03", 9) + "2C";
    EXPECT_EQ(korvanRequest(1, ' ', "0044"), example);
    const auto replies = inst.feed(example);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, korvanResponse('\x06', "! " + QByteArray(" 0044") + "1A8F"));
    EXPECT_EQ(replies[0].requestBytes, 11);
    EXPECT_EQ(replies[0].logLine, "korvan R 0044 -> ACK 1A8F");

    EXPECT_EQ(single(inst, korvanRequest(1, 'P', "0044", "FFFF")),
              korvanResponse('\x06', "! P0044"));
    EXPECT_EQ(inst.value(0x44), -1);
    // Lower-case hexadecimal is accepted on input; output is upper case.
    EXPECT_EQ(single(inst, korvanRequest(1, 'P', "007f", "7fff")),
              korvanResponse('\x06', "! P007f"));
    EXPECT_EQ(inst.value(0x7F), 32767);
    EXPECT_EQ(single(inst, korvanRequest(1, ' ', "0044")), korvanResponse('\x06', "!  0044FFFF"));
}

TEST(SimKorvan, ErrorAnswers) {
    Instrument inst(Protocol::Korvan, 0);
    EXPECT_EQ(single(inst, korvanRequest(0, ' ', "0080")), korvanResponse('\x15', "   008001"));
    EXPECT_EQ(single(inst, korvanRequest(0, 'q', "0001")), korvanResponse('\x15', "  q000102"));
    EXPECT_EQ(single(inst, korvanRequest(0, ' ', "00G1")), korvanResponse('\x15', "   00G104"));
    // A read carrying data, a write without it, a write with a non-hex value.
    EXPECT_EQ(single(inst, korvanRequest(0, ' ', "0001", "0000")).left(1), "\x15");
    EXPECT_EQ(single(inst, korvanRequest(0, 'P', "0001")), korvanResponse('\x15', "  P000104"));
    EXPECT_EQ(single(inst, korvanRequest(0, 'P', "0001", "12X4")),
              korvanResponse('\x15', "  P000104"));
    EXPECT_EQ(inst.value(1), 99);

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
    std::vector<Reply> all;
    for (char c : stream)
        for (auto& r : inst.feed(QByteArray(1, c)))
            all.push_back(r);
    std::vector<QByteArray> answers;
    for (auto& r : all)
        if (!r.bytes.isEmpty())
            answers.push_back(r.bytes);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], korvanResponse('\x06', "#  0002" + QByteArray("00C7")));
    EXPECT_EQ(answers[1], korvanResponse('\x06', "#  0003" + QByteArray("012B")));
    EXPECT_EQ(inst.pendingBytes(), 0);

    // STX and far too much without ETX: dropped, nothing answered, nothing kept forever.
    replies = inst.feed("\x02" + QByteArray(100, 'A'));
    for (auto& r : replies)
        EXPECT_TRUE(r.bytes.isEmpty());
    EXPECT_LE(inst.pendingBytes(), 34);
    EXPECT_EQ(single(inst, korvanRequest(3, ' ', "0000")).left(1), "\x06");
}

class SimModbus : public ::testing::TestWithParam<Protocol> {};

TEST_P(SimModbus, ReadWriteExceptions) {
    const Protocol p = GetParam();
    Instrument inst(p, 0x0A);
    const auto read = [&](int item, int count) {
        return inst.feed(modbusFrame(p, adu(0x0A, 3, item, count)));
    };
    auto replies = read(0x44, 1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, modbusFrame(p, QByteArray::fromHex("0A03021A8F")));
    EXPECT_EQ(replies[0].logLine, protocolName(p) + " R 0044 -> OK 1A8F");

    const QByteArray write = modbusFrame(p, adu(0x0A, 6, 0x44, 0xFFFF));
    EXPECT_EQ(single(inst, write), write);
    EXPECT_EQ(inst.value(0x44), -1);
    EXPECT_EQ(single(inst, modbusFrame(p, adu(0x0A, 3, 0x43, 2))),
              modbusFrame(p, QByteArray::fromHex("0A03041A2BFFFF")));

    EXPECT_EQ(single(inst, modbusFrame(p, adu(0x0A, 3, 0x80, 1))),
              modbusFrame(p, QByteArray::fromHex("0A8302")));
    EXPECT_EQ(single(inst, modbusFrame(p, adu(0x0A, 3, 0x7F, 2))),
              modbusFrame(p, QByteArray::fromHex("0A8302")));
    EXPECT_EQ(single(inst, modbusFrame(p, adu(0x0A, 3, 0x00, 0))),
              modbusFrame(p, QByteArray::fromHex("0A8303")));
    EXPECT_EQ(single(inst, modbusFrame(p, adu(0x0A, 6, 0x80, 1))),
              modbusFrame(p, QByteArray::fromHex("0A8602")));
    if (p == Protocol::ModbusAscii) {
        // RTU can only take a frame of unknown length at a silence: see the RTU test.
        EXPECT_EQ(single(inst, modbusFrame(p, QByteArray::fromHex("0A100044000102FFFF"))),
                  modbusFrame(p, QByteArray::fromHex("0A9001")));
    }
    // Another station, and a frame with a spoiled checksum: not answered.
    replies = inst.feed(modbusFrame(p, adu(0x0B, 3, 0x44, 1)));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    QByteArray spoiled = modbusFrame(p, adu(0x0A, 6, 0x01, 5));
    spoiled[p == Protocol::ModbusAscii ? spoiled.size() - 3 : spoiled.size() - 1] ^= 0x01;
    replies = inst.feed(spoiled);
    for (auto& r : inst.lineIdle())
        replies.push_back(r);
    for (auto& r : replies)
        EXPECT_TRUE(r.bytes.isEmpty()) << r.logLine.toStdString();
    EXPECT_EQ(inst.value(1), 99);
}

TEST_P(SimModbus, FaultsPerItem) {
    const Protocol p = GetParam();
    Instrument inst(p, 1);
    inst.setFault(5, {FaultKind::Nak, 4, 0});
    inst.setFault(0x10, {FaultKind::BadSum, 0, 0});
    inst.setFault(0x11, {FaultKind::Silent, 0, 0});
    inst.setFault(0x12, {FaultKind::ReadOnly, 0, 0});
    inst.setFault(0x13, {FaultKind::Garbage, 0, 0});
    inst.setFault(0x14, {FaultKind::Delay, 0, 250});
    auto req = [&](int fn, int item, int value) {
        const auto r = inst.feed(modbusFrame(p, adu(1, fn, item, value)));
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? Reply{} : r.front();
    };
    EXPECT_EQ(req(3, 5, 1).bytes, modbusFrame(p, QByteArray::fromHex("018304")));
    const QByteArray good = modbusFrame(p, QByteArray::fromHex("010302063F"));
    const QByteArray bad = req(3, 0x10, 1).bytes;
    EXPECT_EQ(bad.size(), good.size());
    EXPECT_NE(bad, good);
    EXPECT_EQ(bad.left(bad.size() - 3), good.left(good.size() - 3));

    const Reply silent = req(6, 0x11, 7);
    EXPECT_TRUE(silent.bytes.isEmpty());
    EXPECT_EQ(silent.logLine, protocolName(p) + " W 0011 0007 -> none silent");
    EXPECT_EQ(inst.value(0x11), 0x11 * 100 - 1);

    EXPECT_EQ(req(6, 0x12, 7).bytes, modbusFrame(p, QByteArray::fromHex("018603")));
    EXPECT_EQ(inst.value(0x12), 0x12 * 100 - 1);
    EXPECT_EQ(req(3, 0x12, 1).bytes, modbusFrame(p, QByteArray::fromHex("0103020707")));

    EXPECT_EQ(req(3, 0x13, 1).bytes, garbageBytes());
    const Reply late = req(3, 0x14, 1);
    EXPECT_EQ(late.delayMs, 250);
    EXPECT_EQ(late.bytes, modbusFrame(p, QByteArray::fromHex("01030207CF")));
}

INSTANTIATE_TEST_SUITE_P(Both, SimModbus,
                         ::testing::Values(Protocol::ModbusAscii, Protocol::ModbusRtu));

TEST(SimRtu, DelimitedByLengthOrSilence) {
    Instrument inst(Protocol::ModbusRtu, 2);
    // Junk in front of a request: the request is found by its CRC.
    auto replies =
        inst.feed(QByteArray::fromHex("FF00") + modbusFrame(Protocol::ModbusRtu, adu(2, 3, 1, 1)));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    EXPECT_EQ(replies[1].bytes,
              modbusFrame(Protocol::ModbusRtu, QByteArray::fromHex("02030200 63")));
    // An unknown function ends at the silence and gets exception 01.
    EXPECT_TRUE(inst.feed(modbusFrame(Protocol::ModbusRtu, QByteArray::fromHex("021000440001"
                                                                               "02FFFF")))
                    .empty());
    replies = inst.lineIdle();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, modbusFrame(Protocol::ModbusRtu, QByteArray::fromHex("029001")));
    // A half request followed by silence is dropped; the next request is served.
    inst.feed(modbusFrame(Protocol::ModbusRtu, adu(2, 3, 1, 1)).left(5));
    replies = inst.lineIdle();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    EXPECT_EQ(inst.pendingBytes(), 0);
    EXPECT_EQ(single(inst, modbusFrame(Protocol::ModbusRtu, adu(2, 3, 1, 1))).size(), 7);
}

TEST(SimKorvan, FaultsNamesAndGlobalSilence) {
    Instrument inst(Protocol::Korvan, 0);
    inst.setFault(5, {FaultKind::Nak, 2, 0});
    inst.setFault(0x12, {FaultKind::ReadOnly, 0, 0});
    inst.setFault(0x10, {FaultKind::BadSum, 0, 0});
    QStringList names;
    for (int i = 0; i < kItemCount; ++i)
        names << QStringLiteral("Item %1").arg(i);
    inst.setItemNames(names);

    auto replies = inst.feed(korvanRequest(0, ' ', "0005"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, korvanResponse('\x15', "   000502"));
    EXPECT_EQ(replies[0].logLine, "korvan R 0005 -> NAK 02 nak \"Item 5\"");
    EXPECT_EQ(single(inst, korvanRequest(0, 'P', "0012", "0001")),
              korvanResponse('\x15', "  P001203"));
    EXPECT_EQ(inst.value(0x12), 0x12 * 100 - 1);
    // A spoiled BCC still carries the right value; a write behind it is carried out.
    const QByteArray good = korvanResponse('\x06', "  P0010");
    const QByteArray bad = single(inst, korvanRequest(0, 'P', "0010", "0033"));
    EXPECT_EQ(bad.left(bad.size() - 2), good.left(good.size() - 2));
    EXPECT_NE(bad, good);
    EXPECT_EQ(inst.value(0x10), 0x33);

    inst.setSilent(true);
    replies = inst.feed(korvanRequest(0, 'P', "0020", "0009"));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].bytes.isEmpty());
    EXPECT_EQ(replies[0].logLine, "korvan W 0020 0009 -> ACK silent \"Item 32\"");
    QByteArray badBcc = korvanRequest(0, ' ', "0020");
    badBcc.chop(2);
    EXPECT_TRUE(single(inst, badBcc + "ZZ").isEmpty());
}
