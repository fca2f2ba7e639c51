// The messages: the command fields sendItemCommand hands to the communication object,
// checksums, request bytes, the assembler cases the exchange tests do not reach, and the
// classification of response texts.
#include "FakeComm.h"
#include "TestPrinters.h"
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

namespace {

// Records the fields sendCommand receives and answers with a fixed text.
class FieldRecorder : public test::FakeComm {
  public:
    void resetExchange() override { calls << "resetExchange"; }
    void dropStaleInput() override { calls << "dropStaleInput"; }
    QByteArray sendCommand(QByteArray& address, QByteArray& subAddress, QByteArray& commandType,
                           QByteArray& dataItem, QByteArray& data, qint16& retries) override {
        calls << "sendCommand";
        sent = {address, subAddress, commandType, dataItem, data};
        sentRetries = retries;
        return "reply";
    }

    QList<QByteArray> calls;
    QList<QByteArray> sent;
    qint16 sentRetries = -1;
};

} // namespace

TEST(SendItemCommand, FieldsPerProtocol) {
    constexpr qint16 K = kProtocolKorvan, A = kProtocolModbusAscii, R = kProtocolModbusRtu;
    const struct {
        qint16 protocol, inst;
        const char *commod, *data;
        QList<QByteArray> sent; // address, sub-address, command type, item, data
    } cases[] = {
        {K, 0, "03", "", {" ", " ", " ", "0044", ""}},
        {K, 1, "06", "FFFF", {"!", " ", "P", "0044", "FFFF"}},
        {K, 95, "03", "", {"\x7F", " ", " ", "0044", ""}},
        {K, 1, "q", "", {"!", " ", "q", "0044", ""}},       // q r a b ` stay as they are
        {K, 1, "Q", "", {"!", " ", "P", "0044", ""}},       // any other code writes
        {A, 0, "03", "", {"00", "", "03", "00440001", ""}}, // a read adds the quantity
        {A, 10, "06", "FFFF", {"0A", "", "06", "0044", "FFFF"}},
        {R, 95, "06", "FFFF", {"5F", "", "06", "0044", "FFFF"}},
        {1, 1, "03", "", {}}, // no such protocol: nothing is sent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.protocol << " " << c.inst << " " << c.commod);
        FieldRecorder com;
        com.setConditions({.protocol = ProtocolNumber(c.protocol)});
        QByteArray subadr, commod(c.commod), item("0044"), data(c.data);
        qint16 inst = c.inst, retries = 3;
        const QByteArray r = sendItemCommand(com, inst, subadr, commod, item, data, retries);
        EXPECT_EQ(r, c.sent.isEmpty() ? QByteArray() : QByteArray("reply"));
        EXPECT_EQ(com.sent, c.sent);
        if (c.sent.isEmpty())
            continue;
        EXPECT_EQ(commod, c.sent[2]); // the prepared fields replace the caller's
        EXPECT_EQ(com.sentRetries, 3);
        EXPECT_EQ(com.calls, QList<QByteArray>({"resetExchange", "dropStaleInput", "sendCommand"}));
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
        SCOPED_TRACE(hexText(c.text) + " answering " + c.commod);
        EXPECT_EQ(classifyResponse(c.text, kProtocolKorvan, c.commod), c.korvan);
        for (qint16 modbus : {kProtocolModbusAscii, kProtocolModbusRtu})
            EXPECT_EQ(classifyResponse(c.text, modbus, c.commod), c.modbus);
    }
}

TEST(Classification, DataField) {
    const std::pair<const char*, qint16> values[] = {{"FFFF", -1},     {"7FFF", 32767},
                                                     {"8000", -32768}, {"0044", 68},
                                                     {"ffff", -1},     {"aB1c", qint16(0xAB1C)}};
    for (const auto& [text, value] : values)
        EXPECT_EQ(decodeDataField(text), value) << text;
    for (const char* text : {"FFF", "1FFFF", "00G4", "", " 123"})
        EXPECT_EQ(decodeDataField(text), std::nullopt) << '"' << text << '"';
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

// The line the answer comes on: requests still unanswered before ours, and its echo.
struct Line {
    QList<QByteArray> earlier = {};
    AnswerLedger::Echo echo = AnswerLedger::Echo::No;
};

// Feeds the chunks as they come, then the same bytes one at a time: the way reads cut
// them changes nothing.
void expectAssembled(const char* what, qint16 protocol, const QByteArray& request,
                     const QList<QByteArray>& chunks, Status status, const QByteArray& text,
                     const Line& line = {}) {
    SCOPED_TRACE(what);
    AnswerLedger ledgers[2];
    std::optional<ResponseAssembler> a[2];
    for (int k = 0; k < 2; ++k) {
        quint64 id = 0;
        for (const QByteArray& earlier : line.earlier)
            ledgers[k].sent(protocol, earlier, ++id, 0);
        ledgers[k].sent(protocol, request, ++id, 0);
        ledgers[k].echo = line.echo;
        a[k] = ResponseAssembler::forRequest(protocol, request);
        ASSERT_TRUE(a[k].has_value());
        a[k]->setLine(&ledgers[k], id);
    }
    Status st = Status::Pending;
    for (const QByteArray& chunk : chunks) {
        EXPECT_EQ(st, Status::Pending);
        st = a[0]->feed(chunk);
    }
    EXPECT_EQ(st, status);
    EXPECT_EQ(a[0]->text(), text);

    const QByteArray all = chunks.join();
    st = Status::Pending;
    for (qsizetype i = 0; i < all.size() && st == Status::Pending; ++i)
        st = a[1]->feed(all.mid(i, 1));
    EXPECT_EQ(st, status);
    EXPECT_EQ(a[1]->text(), text);
}

} // namespace

TEST(Framing, PublishedVectors) {
    EXPECT_EQ(checksum::crc16(QByteArray("123456789")), 0x4B37); // CRC-16/MODBUS check value
    // Modbus application protocol example: 02 07 -> CRC 1241h sent as 41 12.
    EXPECT_EQ(checksum::crc16(QByteArray::fromHex("0207")), 0x1241);
    // Frame ":F7031389000A60": station F7h, read 10 registers from 1389h.
    EXPECT_EQ(checksum::lrc(QByteArray::fromHex("F7031389000A")), 0x60);
    // Read of item 0044h from instrument 1: BCC of 21 20 20 30 30 34 34 03 is 2Ch.
    EXPECT_EQ(kKorvanRead, QByteArray::fromHex("022120203030343403") + "2C");
    // Its answer, value 0001, summed by hand: 21+20+20+30+30+34+34+30+30+30+31+03 = 1EDh.
    // A sum one off is a wrong checksum (read as the ESC answer), whatever the program's
    // checksum code says.
    const QByteArray answer = QByteArray::fromHex("06212020303034343030303103");
    expectAssembled("fixed vector", kProtocolKorvan, kKorvanRead, {answer + "ED"}, Status::Complete,
                    answer + "ED");
    expectAssembled("fixed vector, wrong sum", kProtocolKorvan, kKorvanRead, {answer + "EC"},
                    Status::Corrupt, kEsc + answer.mid(1) + "EC");
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

    for (const QByteArray& bad : // fields that make no request
         {korvanRequest("", " ", " ", "0044", ""), korvanRequest("!", " ", " ", "44", ""),
          korvanRequest("!", " ", "P", "0044", "FFFFF"),
          korvanRequest("!", " ", "P", "0044", "FF\x03F"),
          buildRequest(kProtocolModbusAscii, "0A", "", "03", "0044000", ""),
          buildRequest(kProtocolModbusRtu, "0A", "", "0G", "0044", ""),
          buildRequest(1, "0A", "", "03", "00440001", "")})
        EXPECT_EQ(bad, QByteArray());
}

TEST(Framing, AssemblerCases) {
    QByteArray lowerBcc = korvanFrame(kAck, "! P0044");
    lowerBcc = lowerBcc.left(lowerBcc.size() - 2) + lowerBcc.right(2).toLower();
    expectAssembled("write ack, lower-case BCC", kProtocolKorvan, kKorvanWrite, {lowerBcc},
                    Status::Complete, lowerBcc);
    const QByteArray badLayout = korvanFrame(kAck, "!  0044FF");
    expectAssembled("checksum right, layout wrong", kProtocolKorvan, kKorvanRead, {badLayout},
                    Status::Corrupt, kEsc + badLayout.mid(1));
    const QByteArray kKorvanRead43 = korvanRequest("!", " ", " ", "0043", "");
    expectAssembled("late answer to an earlier request, then ours", kProtocolKorvan, kKorvanRead,
                    {korvanFrame(kAck, "!  00431A2B"), korvanFrame(kAck, "!  00441A8F")},
                    Status::Complete, korvanFrame(kAck, "!  00441A8F"), {{kKorvanRead43}});
    expectAssembled("an answer naming an item nobody asked for", kProtocolKorvan, kKorvanRead,
                    {korvanFrame(kAck, "!  00431A2B")}, Status::Corrupt,
                    kEsc + korvanFrame(kAck, "!  00431A2B").mid(1));
    expectAssembled("our request coming back, then its answer", kProtocolKorvan, kKorvanRead,
                    {kKorvanRead, korvanFrame(kAck, "!  00441A8F")}, Status::Complete,
                    korvanFrame(kAck, "!  00441A8F"), {{}, AnswerLedger::Echo::Unknown});

    const QByteArray ours = ":0A0302FFFFF3\r\n";
    expectAssembled(
        "lower-case hex after another station", kProtocolModbusAscii, kAsciiRead,
        {modbusAsciiFrame(QByteArray::fromHex("0B03020001")), "noise:0a0302ff", "fff3\r", "\n"},
        Status::Complete, ours);
    expectAssembled("an exception to a function nobody asked for is malformed",
                    kProtocolModbusAscii, kAsciiRead, {":0A827301\r\n"}, Status::Corrupt, "");

    // Byte counts: another request's (still unanswered) is dropped; nobody's is malformed.
    const QByteArray kAsciiBlock =
        buildRequest(kProtocolModbusAscii, "0A", "", "03", "00430002", "");
    const QByteArray blockAnswer = modbusAsciiFrame(QByteArray::fromHex("0A030400010002"));
    expectAssembled("a block's late answer, then ours", kProtocolModbusAscii, kAsciiRead,
                    {blockAnswer, ours}, Status::Complete, ours, {{kAsciiBlock}});
    expectAssembled("a byte count nobody asked for", kProtocolModbusAscii, kAsciiRead,
                    {blockAnswer}, Status::Corrupt, "");
    // An exception names no register: with another read unanswered it is nobody's for sure.
    expectAssembled("an exception while another read is unanswered", kProtocolModbusAscii,
                    kAsciiRead, {":0A830271\r\n"}, Status::Pending, "", {{kAsciiBlock}});

    const QByteArray rtuReply = modbusRtuFrame(QByteArray::fromHex("0A0302FFFF"));
    expectAssembled("the echo of our read, then the answer", kProtocolModbusRtu, kRtuRead,
                    {kRtuRead.left(5), kRtuRead.mid(5) + rtuReply}, Status::Complete, ours,
                    {{}, AnswerLedger::Echo::Unknown});
    // A write's answer is its request: the line's echo decides which copy answers.
    const QByteArray writeText = ":0A060044FFFFAE\r\n";
    expectAssembled("a write on a line known to echo: echo, answer", kProtocolModbusRtu, kRtuWrite,
                    {kRtuWrite, kRtuWrite}, Status::Complete, writeText,
                    {{}, AnswerLedger::Echo::Yes});
    expectAssembled("a write on a line known to echo: the echo alone", kProtocolModbusRtu,
                    kRtuWrite, {kRtuWrite}, Status::Pending, "", {{}, AnswerLedger::Echo::Yes});
    expectAssembled("a write on a line not known yet: two copies", kProtocolModbusRtu, kRtuWrite,
                    {kRtuWrite, kRtuWrite}, Status::Complete, writeText,
                    {{}, AnswerLedger::Echo::Unknown});
    expectAssembled("noise holding the function code, then pieces", kProtocolModbusRtu, kRtuRead,
                    {QByteArray::fromHex("00FF0303"), rtuReply.left(3), rtuReply.mid(3)},
                    Status::Complete, ours);
    const QByteArray kRtuWrite43 = buildRequest(kProtocolModbusRtu, "0A", "", "06", "0043", "FFFF");
    expectAssembled("late answer to another register's write, then ours", kProtocolModbusRtu,
                    kRtuWrite, {kRtuWrite43, kRtuWrite}, Status::Complete, ":0A060044FFFFAE\r\n",
                    {{kRtuWrite43}});
    expectAssembled("a frame of ours with a wrong CRC decides, whatever follows in the same read",
                    kProtocolModbusRtu, kRtuRead,
                    {QByteArray::fromHex("0A0302FFFF1111") + rtuReply}, Status::Corrupt, "");
    expectAssembled("broadcast station, zeros around a function code", kProtocolModbusRtu,
                    buildRequest(kProtocolModbusRtu, "00", "", "03", "007F0001", ""),
                    {QByteArray::fromHex("77000000000000000003005900325D000000000000")},
                    Status::Corrupt, "");
    expectAssembled("spoiled CRC ending in the function code", kProtocolModbusRtu, kRtuRead,
                    {QByteArray::fromHex("0A0302FFFF5503")}, Status::Corrupt, "");
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
        SCOPED_TRACE(c.protocol);
        auto a = ResponseAssembler::forRequest(c.protocol, c.request);
        ASSERT_TRUE(a.has_value());
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(a->feed(c.noise), Status::Pending);
        EXPECT_LE(a->buffered(), c.bound);
        if (c.protocol == kProtocolKorvan) { // recovers once a frame comes
            EXPECT_EQ(a->feed(korvanFrame(kAck, "!  00440001")), Status::Complete);
        }
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
        EXPECT_EQ(none, QByteArray());
}
