// The messages: the command fields Sendcomm hands to the communication object, checksums,
// request bytes, the assembler cases the exchange tests do not reach, and the
// classification of response texts.
#include "comm/Checksums.h"
#include "comm/Classification.h"
#include "comm/CommObject.h"
#include "comm/CommandFields.h"
#include "comm/Framing.h"

#include <QList>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::framing;
using Status = ResponseAssembler::Status;

namespace pmx {
bool operator==(const CommandFieldSet& a, const CommandFieldSet& b) {
    return a.address == b.address && a.subAddress == b.subAddress &&
           a.commandType == b.commandType && a.dataItem == b.dataItem && a.data == b.data;
}
} // namespace pmx

namespace {

// Records the fields SendCommand receives and answers with a fixed text.
class FieldRecorder : public CommObject {
  public:
    void Activate(bool) override {}
    bool OpenPort() override { return true; }
    void ClosePort() override {}
    void PrepareA() override { calls << "PrepareA"; }
    void PrepareB() override { calls << "PrepareB"; }
    QByteArray SendCommand(QByteArray& address, QByteArray& subAddress, QByteArray& commandType,
                           QByteArray& dataItem, QByteArray& data, qint16& retn) override {
        calls << "SendCommand";
        sent = {address, subAddress, commandType, dataItem, data};
        sentRetn = retn;
        return "reply";
    }
    QByteArray ExtractData(const QByteArray&, qint32) const override { return {}; }

    // Sends one command; the caller's subaddress and command come back as Sendcomm left them.
    QByteArray send(qint16 stAdr, QByteArray commod, QByteArray commNo, QByteArray commdata,
                    QByteArray* commodOut = nullptr) {
        QByteArray subadr;
        qint16 retn = 3;
        const QByteArray r = Sendcomm(*this, stAdr, subadr, commod, commNo, commdata, retn);
        if (commodOut)
            *commodOut = commod;
        return r;
    }

    QList<QByteArray> calls;
    CommandFieldSet sent;
    qint16 sentRetn = -1;
};

} // namespace

TEST(Sendcomm, FieldsPerProtocol) {
    constexpr qint16 K = kProtocolKorvan, A = kProtocolModbusAscii, R = kProtocolModbusRtu;
    const struct {
        qint16 protocol, inst;
        const char *commod, *data;
        CommandFieldSet sent;
    } cases[] = {
        {K, 0, "03", "", {" ", " ", " ", "0044", ""}},
        {K, 1, "06", "FFFF", {"!", " ", "P", "0044", "FFFF"}},
        {K, 10, "03", "", {"*", " ", " ", "0044", ""}},
        {K, 95, "03", "", {"\x7F", " ", " ", "0044", ""}},
        {A, 0, "03", "", {"00", "", "03", "00440001", ""}}, // a read adds the quantity
        {A, 10, "06", "FFFF", {"0A", "", "06", "0044", "FFFF"}},
        {R, 1, "03", "", {"01", "", "03", "00440001", ""}},
        {R, 95, "06", "FFFF", {"5F", "", "06", "0044", "FFFF"}},
    };
    for (const auto& c : cases) {
        FieldRecorder com;
        com.ProtocolNo = c.protocol;
        QByteArray commod;
        EXPECT_EQ(com.send(c.inst, c.commod, "0044", c.data, &commod), QByteArray("reply"));
        EXPECT_EQ(com.sent, c.sent) << c.protocol << " " << c.inst;
        EXPECT_EQ(commod, c.sent.commandType); // the prepared fields replace the caller's
        EXPECT_EQ(com.sentRetn, 3);
    }
}

TEST(Sendcomm, KorvanCommandTypes) {
    FieldRecorder com;
    com.send(1, "06", "0044", "FFFF");
    EXPECT_EQ(com.calls, QList<QByteArray>({"PrepareA", "PrepareB", "SendCommand"}));
    EXPECT_EQ(korvanCommandType("03"), QByteArray(" "));
    for (const char* keep : {"q", "r", "a", "b", "`"})
        EXPECT_EQ(korvanCommandType(keep), QByteArray(keep));
    for (const char* other : {"06", "", "Q", "qq", "3"})
        EXPECT_EQ(korvanCommandType(other), QByteArray("P")) << other;
}

TEST(Sendcomm, UnknownProtocolSendsNothing) {
    for (qint16 protocol : {qint16(1), qint16(4), qint16(-1)}) {
        FieldRecorder com;
        com.ProtocolNo = protocol;
        EXPECT_EQ(com.send(1, "03", "0044", ""), QByteArray());
        EXPECT_FALSE(com.calls.contains("SendCommand"));
    }
}

TEST(Classification, ResponseTable) {
    const struct {
        const char* text;
        const char* commod;
        int korvan;
        int modbus;
    } cases[] = {
        {"\x06! 0044FFFF\x03", "03", kResponseOk, kResponseCommError},
        {"\x15! 004401\x03", "03", kResponseNak, kResponseCommError},
        {"\x1B! 0044\x03", "06", kResponseChecksum, kResponseCommError},
        {"", "03", kResponseNone, kResponseCommError},
        {"x", "03", kResponseNone, kResponseCommError},
        {":0A0302FFFFF5\r\n", "03", kResponseNone, kResponseOk},
        {":0A06", "06", kResponseNone, kResponseOk},
        {":0A0302FFFFF5\r\n", "06", kResponseNone, kResponseCommError},
        {":0A8302", "03", kResponseNone, kResponseCommError},
        {":0A0", "03", kResponseNone, kResponseCommError},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classifyResponse(c.text, kProtocolKorvan, c.commod), c.korvan) << c.text;
        for (qint16 modbus : {kProtocolModbusAscii, kProtocolModbusRtu})
            EXPECT_EQ(classifyResponse(c.text, modbus, c.commod), c.modbus) << c.text;
    }
}

TEST(Classification, DataField) {
    const struct {
        const char* text;
        std::optional<qint16> value;
    } cases[] = {{"FFFF", -1},           {"7FFF", 32767},
                 {"8000", -32768},       {"0044", 68},
                 {"ffff", -1},           {"aB1c", qint16(0xAB1C)},
                 {"FFF", std::nullopt},  {"1FFFF", std::nullopt},
                 {"00G4", std::nullopt}, {"", std::nullopt},
                 {" 123", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(decodeDataField(c.text), c.value) << c.text;
}

namespace {

QByteArray korvanFrame(char lead, const QByteArray& body) {
    QByteArray covered = body + kEtx;
    return QByteArray(1, lead) + covered + checksum::hex2(checksum::bcc(covered));
}

const QByteArray kKorvanRead = korvanRequest("!", " ", " ", "0044", "");
const QByteArray kKorvanWrite = korvanRequest("!", " ", "P", "0044", "0001");
const QByteArray kAsciiRead = buildRequest(kProtocolModbusAscii, "0A", "", "03", "00440001", "");
const QByteArray kRtuRead = buildRequest(kProtocolModbusRtu, "0A", "", "03", "00440001", "");
const QByteArray kRtuWrite = buildRequest(kProtocolModbusRtu, "0A", "", "06", "0044", "FFFF");

} // namespace

TEST(Framing, PublishedVectors) {
    EXPECT_EQ(checksum::crc16(QByteArray("123456789")), 0x4B37); // CRC-16/MODBUS check value
    // Modbus application protocol example: 02 07 -> CRC 1241h sent as 41 12.
    EXPECT_EQ(checksum::crc16(QByteArray::fromHex("0207")), 0x1241);
    // Frame ":F7031389000A60": station F7h, read 10 registers from 1389h.
    EXPECT_EQ(checksum::lrc(QByteArray::fromHex("F7031389000A")), 0x60);
    // Read of item 0044h from instrument 1: BCC of 21 20 20 30 30 34 34 03 is 2Ch.
    EXPECT_EQ(kKorvanRead, QByteArray::fromHex("022120203030343403") + "2C");
    EXPECT_EQ(korvanRequest("*", " ", "P", "0044", "FFFF"),
              QByteArray("\x02* P0044FFFF\x03") + checksum::hex2(checksum::bcc("* P0044FFFF\x03")));
    // Modbus serial line guide: station 11h reads 3 registers from 006Bh, LRC 7Eh.
    EXPECT_EQ(buildRequest(kProtocolModbusAscii, "11", "", "03", "006B0003", ""),
              QByteArray(":1103006B00037E\r\n"));
    EXPECT_EQ(buildRequest(kProtocolModbusAscii, "0A", "", "06", "0044", "FFFF"),
              QByteArray(":0A060044FFFFAE\r\n"));
    // Ten registers from station 1: CRC sent C5 CD, low-order byte first.
    EXPECT_EQ(buildRequest(kProtocolModbusRtu, "01", "", "03", "0000000A", ""),
              QByteArray::fromHex("01030000000AC5CD"));
    EXPECT_EQ(buildRequest(kProtocolModbusRtu, "11", "", "06", "0001", "0003"),
              QByteArray::fromHex("1106000100039A9B"));

    for (const QByteArray& bad :
         {korvanRequest("", " ", " ", "0044", ""), korvanRequest("!", " ", " ", "44", ""),
          korvanRequest("!", " ", "P", "0044", "FFFFF"),
          korvanRequest("!", " ", "P", "0044", "FF\x03F"),
          buildRequest(kProtocolModbusAscii, "0A", "", "03", "0044000", ""),
          buildRequest(kProtocolModbusRtu, "0A", "", "0G", "0044", ""),
          buildRequest(1, "0A", "", "03", "00440001", "")})
        EXPECT_TRUE(bad.isEmpty()) << bad.toHex().toStdString();
}

TEST(Framing, AssemblerCases) {
    QByteArray lowerBcc = korvanFrame(kAck, "! P0044");
    lowerBcc = lowerBcc.left(lowerBcc.size() - 2) + lowerBcc.right(2).toLower();
    const QByteArray rtuReply = modbusRtuFrame(QByteArray::fromHex("0A0302FFFF"));
    const struct {
        const char* what;
        qint16 protocol;
        QByteArray request;
        QList<QByteArray> chunks;
        Status status;
        QByteArray text;
    } cases[] = {
        {"write ack, lower-case BCC",
         kProtocolKorvan,
         kKorvanWrite,
         {lowerBcc},
         Status::Complete,
         lowerBcc},
        {"checksum right, layout wrong",
         kProtocolKorvan,
         kKorvanRead,
         {korvanFrame(kAck, "!  0044FF")},
         Status::Corrupt,
         kEsc + korvanFrame(kAck, "!  0044FF").mid(1)},
        {"lower-case hex after another station",
         kProtocolModbusAscii,
         kAsciiRead,
         {modbusAsciiFrame(QByteArray::fromHex("0B03020001")), "noise:0a0302ff", "fff3\r", "\n"},
         Status::Complete,
         ":0A0302FFFFF3\r\n"},
        {"noise holding the function code, then pieces",
         kProtocolModbusRtu,
         kRtuRead,
         {QByteArray::fromHex("00FF0303"), rtuReply.left(3), rtuReply.mid(3)},
         Status::Complete,
         ":0A0302FFFFF3\r\n"},
        {"echo of a write",
         kProtocolModbusRtu,
         kRtuWrite,
         {kRtuWrite},
         Status::Complete,
         ":0A060044FFFFAE\r\n"},
        {"an exception to another function is another request's",
         kProtocolModbusAscii,
         kAsciiRead,
         {":0A827301\r\n", modbusAsciiFrame(QByteArray::fromHex("0A8302"))},
         Status::Complete,
         ":0A830271\r\n"},
        {"a frame of ours with a wrong CRC decides, whatever follows in the same read",
         kProtocolModbusRtu,
         kRtuRead,
         {QByteArray::fromHex("0A0302FFFF1111") + rtuReply},
         Status::Corrupt,
         ""},
        {"broadcast station, zeros around a function code",
         kProtocolModbusRtu,
         buildRequest(kProtocolModbusRtu, "00", "", "03", "007F0001", ""),
         {QByteArray::fromHex("770000000000000000030059" "00325D000000000000")},
         Status::Corrupt,
         ""},
    };
    for (const auto& c : cases) {
        auto a = ResponseAssembler::forRequest(c.protocol, c.request);
        ASSERT_TRUE(a.has_value()) << c.what;
        Status st = Status::Pending;
        for (const QByteArray& chunk : c.chunks) {
            EXPECT_EQ(st, Status::Pending) << c.what;
            st = a->feed(chunk);
        }
        EXPECT_EQ(st, c.status) << c.what;
        EXPECT_EQ(a->text(), c.text) << c.what;

        // The same bytes one at a time: the way reads cut them changes nothing.
        auto single = ResponseAssembler::forRequest(c.protocol, c.request);
        const QByteArray all = c.chunks.join();
        Status one = Status::Pending;
        for (qsizetype i = 0; i < all.size() && one == Status::Pending; ++i)
            one = single->feed(all.mid(i, 1));
        EXPECT_EQ(one, c.status) << c.what;
        EXPECT_EQ(single->text(), c.text) << c.what;
    }
}

TEST(Framing, BufferStaysBoundedOnEndlessNoise) {
    const struct {
        qint16 protocol;
        QByteArray request, noise;
        qsizetype bound;
    } cases[] = {
        {kProtocolKorvan, kKorvanRead, "\x06" + QByteArray(100, 'A'),
         ResponseAssembler::kKorvanMaxBody + 1},
        {kProtocolModbusAscii, kAsciiRead, ":" + QByteArray(600, '0'),
         ResponseAssembler::kAsciiMaxFrame},
        {kProtocolModbusRtu, kRtuRead, QByteArray(50, '\x55'), 2 * ResponseAssembler::kRtuMaxFrame},
    };
    for (const auto& c : cases) {
        auto a = ResponseAssembler::forRequest(c.protocol, c.request);
        ASSERT_TRUE(a.has_value());
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(a->feed(c.noise), Status::Pending) << c.protocol;
        EXPECT_LE(a->buffered(), c.bound) << c.protocol;
        if (c.protocol == kProtocolKorvan) // recovers once a frame comes
            EXPECT_EQ(a->feed(korvanFrame(kAck, "!  00440001")), Status::Complete);
    }
}

TEST(Framing, ExtractDataOnlyFromReadResponses) {
    EXPECT_EQ(extractData(":0A03020044B1\r\n", 1), QByteArray("0044"));
    EXPECT_EQ(extractData(":0A0304000100020A\r\n", 2), QByteArray("0002"));
    EXPECT_EQ(extractData(korvanFrame(kAck, "!  0044FFFF"), 1), QByteArray("FFFF"));
    for (const QByteArray& none : {extractData(korvanFrame(kAck, "!  0044FFFF"), 2),
                                   extractData(korvanFrame(kAck, "! P0044"), 1),
                                   extractData(":0A0302", 1), extractData(":0A060044FFFFAE\r\n", 1),
                                   extractData("", 1), extractData("\x06!  0044FFFF\x03", 1),
                                   extractData(modbusAsciiFrame(QByteArray::fromHex("0A8302")), 1)})
        EXPECT_TRUE(none.isEmpty()) << none.toStdString();
}
