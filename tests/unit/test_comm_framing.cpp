#include "comm/Checksums.h"
#include "comm/CommObject.h"
#include "comm/Framing.h"

#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::framing;
using Status = ResponseAssembler::Status;

namespace {

// A KORVAN response frame with a correct BCC.
QByteArray korvanFrame(char lead, const QByteArray& body) {
    QByteArray covered = body + kEtx;
    return QByteArray(1, lead) + covered + checksum::hex2(checksum::bcc(covered));
}

ResponseAssembler assemblerFor(qint16 protocol, const QByteArray& request) {
    auto a = ResponseAssembler::forRequest(protocol, request);
    EXPECT_TRUE(a.has_value());
    return a.value_or(ResponseAssembler(protocol, 0));
}

} // namespace

TEST(Framing, KorvanRequestOfTheContractExample) {
    const QByteArray frame = korvanRequest("!", " ", " ", "0044", "");
    EXPECT_EQ(frame, QByteArray::fromHex("022120203030343403") + "2C");
    // Write of -1 to item 0044h from instrument 10.
    EXPECT_EQ(korvanRequest("*", " ", "P", "0044", "FFFF"),
              QByteArray("\x02* P0044FFFF\x03") + checksum::hex2(checksum::bcc("* P0044FFFF\x03")));
}

TEST(Framing, KorvanRequestRejectsMalformedFields) {
    EXPECT_TRUE(korvanRequest("", " ", " ", "0044", "").isEmpty());
    EXPECT_TRUE(korvanRequest("!", " ", " ", "44", "").isEmpty());
    EXPECT_TRUE(korvanRequest("!", " ", "P", "0044", "FFFFF").isEmpty());
    EXPECT_TRUE(korvanRequest("!", " ", "P", "0044", "FF\x03F").isEmpty());
}

TEST(Framing, ModbusRequestsWithPublishedVectors) {
    // Modbus serial line guide: station 11h reads 3 registers from 006Bh, LRC 7Eh.
    EXPECT_EQ(buildRequest(kProtocolModbusAscii, "11", "", "03", "006B0003", ""),
              QByteArray(":1103006B00037E\r\n"));
    // Read of ten registers from station 1: CRC sent C5 CD, low-order byte first.
    EXPECT_EQ(buildRequest(kProtocolModbusRtu, "01", "", "03", "0000000A", ""),
              QByteArray::fromHex("01030000000AC5CD"));
    // Write single register: station 11h, register 0001h, value 0003h -> CRC 9A 9B.
    EXPECT_EQ(buildRequest(kProtocolModbusRtu, "11", "", "06", "0001", "0003"),
              QByteArray::fromHex("1106000100039A9B"));
    EXPECT_EQ(buildRequest(kProtocolModbusAscii, "0A", "", "06", "0044", "FFFF"),
              QByteArray(":0A060044FFFFAE\r\n"));
    EXPECT_TRUE(buildRequest(kProtocolModbusAscii, "0A", "", "03", "0044000", "").isEmpty());
    EXPECT_TRUE(buildRequest(kProtocolModbusRtu, "0A", "", "0G", "0044", "").isEmpty());
    EXPECT_TRUE(buildRequest(1, "0A", "", "03", "00440001", "").isEmpty());
}

TEST(KorvanAssembler, CompleteFrameSplitAndAfterGarbage) {
    const QByteArray request = korvanRequest("!", " ", " ", "0044", "");
    const QByteArray frame = QByteArray("\x06!  0044FFFF\x03") + "44";
    ASSERT_EQ(frame, korvanFrame(kAck, "!  0044FFFF"));
    auto a = assemblerFor(kProtocolKorvan, request);
    const QByteArray wire = QByteArray("zz\x06\x01q") + frame + "trailing";
    Status st = Status::Pending;
    for (qsizetype i = 0; i < wire.size() && st == Status::Pending; ++i)
        st = a.feed(wire.mid(i, 1));
    EXPECT_EQ(st, Status::Complete);
    EXPECT_EQ(a.text(), frame);
    EXPECT_EQ(extractData(a.text(), 1), QByteArray("FFFF"));
    EXPECT_TRUE(extractData(a.text(), 2).isEmpty());
}

TEST(KorvanAssembler, NakAndWriteAckAndLowerCaseBcc) {
    const QByteArray request = korvanRequest("*", " ", "P", "0044", "0001");
    auto a = assemblerFor(kProtocolKorvan, request);
    EXPECT_EQ(a.feed(korvanFrame(kNak, "* P004403")), Status::Complete);
    EXPECT_EQ(a.text()[0], kNak);

    auto b = assemblerFor(kProtocolKorvan, request);
    QByteArray ack = korvanFrame(kAck, "* P0044");
    ack = ack.left(ack.size() - 2) + ack.right(2).toLower();
    EXPECT_EQ(b.feed(ack), Status::Complete);
    EXPECT_TRUE(extractData(b.text(), 1).isEmpty()); // a write ack has no data field
}

TEST(KorvanAssembler, WrongBccOrAddressGivesEscText) {
    const QByteArray request = korvanRequest("!", " ", " ", "0044", "");
    QByteArray bad = korvanFrame(kAck, "!  0044FFFF");
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    auto a = assemblerFor(kProtocolKorvan, request);
    EXPECT_EQ(a.feed(bad), Status::Corrupt);
    EXPECT_EQ(a.text()[0], kEsc);
    EXPECT_EQ(a.text().mid(1), bad.mid(1));

    auto b = assemblerFor(kProtocolKorvan, request);
    EXPECT_EQ(b.feed(korvanFrame(kAck, "\"  0044FFFF")), Status::Corrupt);
    EXPECT_EQ(b.text()[0], kEsc);

    auto c = assemblerFor(kProtocolKorvan, request); // checksum right, layout wrong
    EXPECT_EQ(c.feed(korvanFrame(kAck, "!  0044FF")), Status::Corrupt);
}

TEST(KorvanAssembler, BufferStaysBoundedOnEndlessNoise) {
    auto a = assemblerFor(kProtocolKorvan, korvanRequest("!", " ", " ", "0044", ""));
    const QByteArray noise = QByteArray("\x06") + QByteArray(100, 'A');
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(a.feed(noise), Status::Pending);
    EXPECT_LE(a.buffered(), ResponseAssembler::kKorvanMaxBody + 1);
    EXPECT_EQ(a.feed(korvanFrame(kAck, "!  00440001")), Status::Complete);
}

TEST(AsciiAssembler, ResponsesAndOtherStation) {
    const QByteArray request = buildRequest(kProtocolModbusAscii, "0A", "", "03", "00440001", "");
    auto a = assemblerFor(kProtocolModbusAscii, request);
    // Another station's frame first: ignored, waiting goes on.
    EXPECT_EQ(a.feed(modbusAsciiFrame(QByteArray::fromHex("0B03020001"))), Status::Pending);
    EXPECT_EQ(a.feed("noise:0a0302ff"), Status::Pending);
    EXPECT_EQ(a.feed("fff3\r"), Status::Pending);
    EXPECT_EQ(a.feed("\n"), Status::Complete);
    EXPECT_EQ(a.text(), QByteArray(":0A0302FFFFF3\r\n"));
    EXPECT_EQ(extractData(a.text(), 1), QByteArray("FFFF"));

    auto b = assemblerFor(kProtocolModbusAscii, request);
    EXPECT_EQ(b.feed(":0A0302FFFFF4\r\n"), Status::Corrupt);
    EXPECT_TRUE(b.text().isEmpty());

    auto c = assemblerFor(kProtocolModbusAscii, request);
    EXPECT_EQ(
        c.feed(":0A8302" + checksum::hex2(checksum::lrc(QByteArray::fromHex("0A8302"))) + "\r\n"),
        Status::Complete);
    EXPECT_EQ(c.text().mid(3, 2), QByteArray("83"));
    EXPECT_TRUE(extractData(c.text(), 1).isEmpty());

    auto d = assemblerFor(kProtocolModbusAscii, request);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(d.feed(QByteArray(":") + QByteArray(600, '0')), Status::Pending);
    EXPECT_LE(d.buffered(), ResponseAssembler::kAsciiMaxFrame);
}

TEST(RtuAssembler, LengthFromFunctionCode) {
    const QByteArray read = buildRequest(kProtocolModbusRtu, "0A", "", "03", "00440001", "");
    const QByteArray readReply = modbusRtuFrame(QByteArray::fromHex("0A0302FFFF"));
    auto a = assemblerFor(kProtocolModbusRtu, read);
    // Noise bytes first (including the function code value), then the reply in pieces.
    EXPECT_EQ(a.feed(QByteArray::fromHex("00FF0303")), Status::Pending);
    EXPECT_EQ(a.feed(readReply.left(3)), Status::Pending);
    EXPECT_EQ(a.feed(readReply.mid(3)), Status::Complete);
    EXPECT_EQ(a.text(), QByteArray(":0A0302FFFFF3\r\n"));

    const QByteArray write = buildRequest(kProtocolModbusRtu, "0A", "", "06", "0044", "FFFF");
    auto b = assemblerFor(kProtocolModbusRtu, write);
    EXPECT_EQ(b.feed(write), Status::Complete); // the echo of a write single register
    EXPECT_EQ(b.text().mid(3, 2), QByteArray("06"));

    auto c = assemblerFor(kProtocolModbusRtu, read);
    EXPECT_EQ(c.feed(modbusRtuFrame(QByteArray::fromHex("0A8302"))), Status::Complete);
    EXPECT_EQ(c.text().mid(3, 2), QByteArray("83"));
}

TEST(RtuAssembler, WrongCrcOrOtherStationIsEmpty) {
    const QByteArray read = buildRequest(kProtocolModbusRtu, "0A", "", "03", "00440001", "");
    QByteArray bad = modbusRtuFrame(QByteArray::fromHex("0A0302FFFF"));
    bad[bad.size() - 1] = char(bad.back() ^ 0x01);
    auto a = assemblerFor(kProtocolModbusRtu, read);
    EXPECT_EQ(a.feed(bad), Status::Corrupt);
    EXPECT_TRUE(a.text().isEmpty());

    auto b = assemblerFor(kProtocolModbusRtu, read);
    EXPECT_EQ(b.feed(modbusRtuFrame(QByteArray::fromHex("0B03020001"))), Status::Corrupt);
    EXPECT_TRUE(b.text().isEmpty());

    auto c = assemblerFor(kProtocolModbusRtu, read);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(c.feed(QByteArray(50, '\x55')), Status::Pending);
    EXPECT_LE(c.buffered(), 2 * ResponseAssembler::kRtuMaxFrame);
}

TEST(ExtractData, OnlyFromReadResponses) {
    EXPECT_EQ(extractData(":0A03020044B1\r\n", 1), QByteArray("0044"));
    EXPECT_EQ(extractData(":0A0304000100020A\r\n", 2), QByteArray("0002"));
    EXPECT_TRUE(extractData(":0A0302", 1).isEmpty());
    EXPECT_TRUE(extractData(":0A060044FFFFAE\r\n", 1).isEmpty());
    EXPECT_TRUE(extractData("", 1).isEmpty());
    EXPECT_TRUE(extractData("\x06!  0044FFFF\x03", 1).isEmpty());
}
