// The codecs: request frames, what response texts say and which message each failure
// shows, their line rules; one command's call order; checksums and the assembler cases
// the exchange tests do not reach.
#include "FakeComm.h"
#include "TestPrinters.h"
#include "comm/Checksums.h"
#include "comm/Classification.h"
#include "comm/Codec.h"
#include "comm/CommObject.h"
#include "comm/CommandFields.h"
#include "comm/Framing.h"

#include <QList>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::framing;
using Status = ResponseAssembler::Status;

namespace {

// Records the calls one command makes and answers with a fixed text.
class CallRecorder : public test::FakeComm {
  public:
    void resetExchange() override { calls << "resetExchange"; }
    void dropStaleInput() override { calls << "dropStaleInput"; }
    ExchangeResult sendCommand(const Request& request) override {
        calls << "sendCommand";
        sentFrame = codec() ? codec()->frame(request) : QByteArray();
        return resultOfText(request, reply);
    }
    QByteArray extractData(const QByteArray& text, qint32 n) const override {
        calls << "extractData";
        return codec()->extractData(text, n);
    }

    QByteArray reply;
    QByteArray sentFrame;
    mutable QList<QByteArray> calls;
};

} // namespace

// Each codec frames a request as the wire contract says; the checksums are fixed vectors
// worked out apart from the program's own checksum code.
TEST(Codec, FramesPerProtocol) {
    constexpr auto K = kProtocolKorvan, A = kProtocolModbusAscii, R = kProtocolModbusRtu;
    const struct {
        ProtocolNumber protocol;
        qint16 inst;
        const char *command, *data;
        int count;
        QByteArray frame;
    } cases[] = {
        {K, 0, "03", "", 1,
         "\x02   0044\x03"
         "2B"},
        {K, 1, "06", "FFFF", 1,
         "\x02! P0044FFFF\x03"
         "74"},
        {K, 95, "03", "", 1,
         "\x02\x7F  0044\x03"
         "8A"},
        {K, 1, "q", "", 1,
         "\x02! q0044\x03"
         "7D"}, // q r a b ` stay as they are
        {K, 1, "Q", "", 1,
         "\x02! P0044\x03"
         "5C"},                                     // any other code writes
        {A, 0, "03", "", 1, ":000300440001B8\r\n"}, // a read adds the quantity
        {A, 10, "06", "FFFF", 1, ":0A060044FFFFAE\r\n"},
        {R, 95, "06", "FFFF", 1, QByteArray::fromHex("5F060044FFFFC511")},
        {R, 10, "03", "", 10, QByteArray::fromHex("0A030044000A84A3")},
        {R, 1, "07", "", 1, {}}, // an answer RTU cannot delimit: never sent
        {A, 1, "q", "", 1, {}},  // no Modbus frame for a KORVAN letter
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.protocol << " " << c.inst << " " << c.command);
        const Codec* codec = codecFor(c.protocol);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->protocol(), c.protocol);
        EXPECT_EQ(codec->frame(Request::make(c.inst, c.command, "0044", c.data, c.count)), c.frame);
    }
    EXPECT_EQ(codecFor(ProtocolNumber(1)), nullptr);
}

// One command: the calls in their order, the data taken out of a good read only, and a
// read whose data field is damaged never passed on as a value.
TEST(SendItemCommand, CallOrderAndValues) {
    const struct {
        ProtocolNumber protocol;
        const char* command;
        QByteArray reply;
        ExchangeOutcome outcome;
        QList<qint16> values;
        bool extracts;
    } cases[] = {
        {kProtocolKorvan,
         "03",
         "\x06!  0044FFFE\x03"
         "00",
         ExchangeOutcome::Good,
         {-2},
         true},
        {kProtocolKorvan,
         "03",
         "\x06!  0044FFXE\x03"
         "00",
         ExchangeOutcome::ChecksumError,
         {},
         true},
        {kProtocolKorvan,
         "06",
         "\x06! P0044\x03"
         "00",
         ExchangeOutcome::Good,
         {},
         false},
        {kProtocolKorvan,
         "03",
         "\x15! P004403\x03"
         "00",
         ExchangeOutcome::Refused,
         {},
         false},
        {kProtocolModbusRtu, "03", ":0A03020010E3\r\n", ExchangeOutcome::Good, {16}, true},
        {kProtocolModbusAscii, "03", ":0A8302XX\r\n", ExchangeOutcome::Refused, {}, false},
        {kProtocolModbusAscii, "03", "", ExchangeOutcome::NoAnswer, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.protocol << " " << hexText(c.reply));
        CallRecorder com;
        com.setConditions({.protocol = c.protocol});
        com.reply = c.reply;
        const ExchangeResult r = sendItemCommand(com, Request::make(1, c.command, "0044"));
        EXPECT_FALSE(com.sentFrame.isEmpty());
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.values, c.values);
        QList<QByteArray> calls{"resetExchange", "dropStaleInput", "sendCommand"};
        if (c.extracts)
            calls << "extractData";
        EXPECT_EQ(com.calls, calls);
    }
}

// What a response text says, and the operator's message id each codec maps it to: KORVAN
// tells refusal, checksum and silence apart; Modbus has one message for every failure.
TEST(Codec, ResponseTable) {
    using O = ExchangeOutcome;
    const struct {
        const char* text;
        const char* command;
        O korvan;
        O modbus;
        int korvanId, modbusId;
    } cases[] = {
        {"\x06! 0044FFFF\x03", "03", O::Good, O::ChecksumError, kResponseOk, kResponseCommError},
        {"\x15! 004401\x03", "03", O::Refused, O::ChecksumError, kResponseNak, kResponseCommError},
        {"\x1B! 0044\x03", "06", O::ChecksumError, O::ChecksumError, kResponseChecksum,
         kResponseCommError},
        {"", "03", O::NoAnswer, O::NoAnswer, kResponseNone, kResponseCommError},
        {"x", "03", O::NoAnswer, O::ChecksumError, kResponseNone, kResponseCommError},
        {":0A0302FFFFF5\r\n", "03", O::NoAnswer, O::Good, kResponseNone, kResponseOk},
        {":0A06", "06", O::NoAnswer, O::Good, kResponseNone, kResponseOk},
        {":0A0302FFFFF5\r\n", "06", O::NoAnswer, O::ChecksumError, kResponseNone,
         kResponseCommError},
        {":0A8302", "03", O::NoAnswer, O::Refused, kResponseNone, kResponseCommError},
        {":0A0", "03", O::NoAnswer, O::ChecksumError, kResponseNone, kResponseCommError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hexText(c.text) + " answering " + c.command);
        const Codec& korvan = *codecFor(kProtocolKorvan);
        EXPECT_EQ(korvan.judge(c.text, c.command, nullptr), c.korvan);
        EXPECT_EQ(korvan.messageId(c.korvan), c.korvanId);
        for (ProtocolNumber p : {kProtocolModbusAscii, kProtocolModbusRtu}) {
            const Codec& modbus = *codecFor(p);
            EXPECT_EQ(modbus.judge(c.text, c.command, nullptr), c.modbus);
            EXPECT_EQ(modbus.messageId(c.modbus), c.modbusId);
        }
    }
    QString code;
    EXPECT_EQ(codecFor(kProtocolKorvan)->judge("\x15!  004402\x03", "03", &code), O::Refused);
    EXPECT_EQ(code, "02");
    EXPECT_EQ(codecFor(kProtocolModbusRtu)->judge(":0A8303", "03", &code), O::Refused);
    EXPECT_EQ(code, "03");
    EXPECT_TRUE(codecFor(kProtocolModbusRtu)->refusesCount(":0A8303"));
    EXPECT_FALSE(codecFor(kProtocolModbusRtu)->refusesCount(":0A8302"));
}

// The line rules each protocol needs, and broadcasts at Modbus station 0 only.
TEST(Codec, LineRules) {
    const Codec& k = *codecFor(kProtocolKorvan);
    const Codec& a = *codecFor(kProtocolModbusAscii);
    const Codec& r = *codecFor(kProtocolModbusRtu);
    EXPECT_FALSE(k.broadcastsTo(0));
    EXPECT_TRUE(a.broadcastsTo(0) && r.broadcastsTo(0));
    EXPECT_FALSE(a.broadcastsTo(1) || r.broadcastsTo(1));
    const Request write = Request::write(0, "0044", "0001");
    EXPECT_FALSE(k.isBroadcast(k.frame(write)));
    EXPECT_TRUE(a.isBroadcast(a.frame(write)) && r.isBroadcast(r.frame(write)));
    EXPECT_FALSE(k.waitsForQuietLine() || k.missLeavesAnswerOwed());
    EXPECT_TRUE(a.waitsForQuietLine() && a.missLeavesAnswerOwed() && r.missLeavesAnswerOwed());
    EXPECT_EQ(k.frameGapNs(9600, 10), 0);
    EXPECT_EQ(a.frameGapNs(9600, 10), 0);
    EXPECT_EQ(r.frameGapNs(9600, 10), 3645834);
    EXPECT_TRUE(k.asksAgain("\x1B! 0044\x03"
                            "00"));
    EXPECT_FALSE(r.asksAgain("\x1B! 0044\x03"
                             "00"));
    // The read that tells a write's echo from its answer reads the written register.
    EXPECT_EQ(r.echoProbe(r.frame(Request::write(10, "0044", "0001"))),
              r.frame(Request::read(10, "0044")));
    EXPECT_TRUE(k.echoProbe(k.frame(write)).isEmpty());
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
