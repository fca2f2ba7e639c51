// The command fields Sendcomm hands to the communication object, and the classification
// of the response texts.
#include "comm/Classification.h"
#include "comm/CommandFields.h"

#include <QList>
#include <gtest/gtest.h>

using namespace pmx;

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
