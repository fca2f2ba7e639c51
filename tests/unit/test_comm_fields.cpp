#include "comm/Classification.h"
#include "comm/CommandFields.h"

#include <QList>
#include <gtest/gtest.h>

using namespace pmx;

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
        return reply;
    }
    QByteArray ExtractData(const QByteArray&, qint32) const override { return {}; }

    QList<QByteArray> calls;
    CommandFieldSet sent;
    qint16 sentRetn = -1;
    QByteArray reply = "reply";
};

struct Command {
    qint16 stAdr;
    QByteArray commod, commNo, commdata;
};

QByteArray send(FieldRecorder& com, Command c, QByteArray* subadrOut = nullptr,
                QByteArray* commodOut = nullptr) {
    QByteArray subadr;
    qint16 retn = 3;
    const QByteArray r = Sendcomm(com, c.stAdr, subadr, c.commod, c.commNo, c.commdata, retn);
    if (subadrOut)
        *subadrOut = subadr;
    if (commodOut)
        *commodOut = c.commod;
    return r;
}

} // namespace

TEST(Sendcomm, KorvanAddressCharacters) {
    FieldRecorder com;
    for (auto [inst, ch] : {std::pair<qint16, char>{0, ' '}, {95, '\x7F'}, {10, '*'}, {1, '!'}}) {
        send(com, {inst, "03", "0044", ""});
        EXPECT_EQ(com.sent.address, QByteArray(1, ch)) << inst;
    }
}

TEST(Sendcomm, ModbusAddressDigits) {
    for (qint16 protocol : {kProtocolModbusAscii, kProtocolModbusRtu}) {
        FieldRecorder com;
        com.ProtocolNo = protocol;
        for (auto [inst, hex] : {std::pair<qint16, const char*>{0, "00"}, {95, "5F"}, {10, "0A"}}) {
            send(com, {inst, "03", "0044", ""});
            EXPECT_EQ(com.sent.address, QByteArray(hex));
            EXPECT_EQ(com.ProtocolNo, protocol);
        }
    }
}

TEST(Sendcomm, ModbusReadAddsQuantityWriteDoesNot) {
    for (qint16 protocol : {kProtocolModbusAscii, kProtocolModbusRtu}) {
        FieldRecorder com;
        com.ProtocolNo = protocol;
        QByteArray subadr, commod;
        send(com, {10, "03", "0044", ""}, &subadr, &commod);
        EXPECT_EQ(com.sent.dataItem, QByteArray("00440001"));
        EXPECT_EQ(com.sent.data, QByteArray());
        EXPECT_EQ(com.sent.subAddress, QByteArray());
        EXPECT_EQ(com.sent.commandType, QByteArray("03"));
        EXPECT_EQ(commod, QByteArray("03"));

        send(com, {10, "06", "0044", "FFFF"});
        EXPECT_EQ(com.sent.dataItem, QByteArray("0044"));
        EXPECT_EQ(com.sent.data, QByteArray("FFFF"));
        EXPECT_EQ(com.sent.commandType, QByteArray("06"));
    }
}

TEST(Sendcomm, KorvanCommandTypesAndWrite) {
    FieldRecorder com;
    QByteArray subadr, commod;
    EXPECT_EQ(send(com, {1, "06", "0044", "FFFF"}, &subadr, &commod), QByteArray("reply"));
    EXPECT_EQ(com.sent.commandType, QByteArray("P"));
    EXPECT_EQ(com.sent.subAddress, QByteArray(" "));
    EXPECT_EQ(com.sent.dataItem, QByteArray("0044"));
    EXPECT_EQ(com.sent.data, QByteArray("FFFF"));
    EXPECT_EQ(com.sentRetn, 3);
    // The prepared fields replace the caller's, as they are passed by reference.
    EXPECT_EQ(subadr, QByteArray(" "));
    EXPECT_EQ(commod, QByteArray("P"));
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
        EXPECT_EQ(send(com, {1, "03", "0044", ""}), QByteArray());
        EXPECT_FALSE(com.calls.contains("SendCommand"));
        EXPECT_EQ(com.ProtocolNo, protocol);
    }
}

TEST(Classification, Korvan) {
    EXPECT_EQ(classifyResponse("\x06! 0044FFFF\x03", 0, "03"), kResponseOk);
    EXPECT_EQ(classifyResponse("\x15! 004401\x03", 0, "03"), kResponseNak);
    EXPECT_EQ(classifyResponse("\x1B! 0044\x03", 0, "06"), kResponseChecksum);
    EXPECT_EQ(classifyResponse("", 0, "03"), kResponseNone);
    EXPECT_EQ(classifyResponse("x", 0, "03"), kResponseNone);
    EXPECT_EQ(classifyResponse(":0A0302FFFF", 0, "03"), kResponseNone);
}

TEST(Classification, Modbus) {
    for (qint16 protocol : {qint16(2), qint16(3)}) {
        EXPECT_EQ(classifyResponse(":0A0302FFFFF5\r\n", protocol, "03"), kResponseOk);
        EXPECT_EQ(classifyResponse(":0A06", protocol, "06"), kResponseOk);
        EXPECT_EQ(classifyResponse(":0A0302FFFFF5\r\n", protocol, "06"), kResponseCommError);
        EXPECT_EQ(classifyResponse(":0A8302", protocol, "03"), kResponseCommError);
        EXPECT_EQ(classifyResponse(":0A0", protocol, "03"), kResponseCommError);
        EXPECT_EQ(classifyResponse("", protocol, "03"), kResponseCommError);
    }
}

TEST(Classification, DataField) {
    EXPECT_EQ(decodeDataField("FFFF"), -1);
    EXPECT_EQ(decodeDataField("7FFF"), 32767);
    EXPECT_EQ(decodeDataField("8000"), -32768);
    EXPECT_EQ(decodeDataField("0044"), 68);
    EXPECT_EQ(decodeDataField("ffff"), -1);
    EXPECT_EQ(decodeDataField("aB1c"), qint16(0xAB1C));
    EXPECT_EQ(decodeDataField("FFF"), std::nullopt);
    EXPECT_EQ(decodeDataField("1FFFF"), std::nullopt);
    EXPECT_EQ(decodeDataField("00G4"), std::nullopt);
    EXPECT_EQ(decodeDataField(""), std::nullopt);
    EXPECT_EQ(decodeDataField(" 123"), std::nullopt);
}
