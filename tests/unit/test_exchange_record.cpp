// Exchange records: what the monitor and the trace say of each exchange. How the serial
// object's exchanges end is checked on the scripted line (test_line_integrity).
#include "TestPrinters.h"
#include "comm/CommObject.h"
#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"

#include <gtest/gtest.h>

using namespace pmx;

namespace {

QByteArray modbus(qint16 protocol, const QByteArray& hexMessage) {
    const QByteArray message = QByteArray::fromHex(hexMessage);
    return protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(message)
                                            : framing::modbusRtuFrame(message);
}

TEST(ExchangeRecord, RequestsAreDescribedInEveryProtocol) {
    const struct {
        qint16 protocol;
        QByteArray frame;
        int station, item, count;
        std::optional<qint16> written; // nullopt: a read
    } rows[] = {
        {kProtocolKorvan, framing::korvanRequest("$", " ", "P", "0023", "FFFF"), 4, 0x23, 1, -1},
        {kProtocolModbusAscii, modbus(kProtocolModbusAscii, "0A0300440001"), 10, 0x44, 1, {}},
        {kProtocolModbusRtu, modbus(kProtocolModbusRtu, "01030000007D"), 1, 0, 125, {}},
        {kProtocolModbusRtu, modbus(kProtocolModbusRtu, "0106007F8000"), 1, 0x7F, 1, -32768},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(hexText(row.frame));
        const RequestMeaning m = describeRequest(row.protocol, row.frame);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.write, row.written.has_value());
        EXPECT_EQ(std::tuple(m.station, m.item, m.count),
                  std::tuple(row.station, row.item, row.count));
        EXPECT_EQ(m.value, row.written);
    }
    EXPECT_FALSE(describeRequest(kProtocolModbusAscii, ":0X0300440001B8\r\n").valid);
    EXPECT_FALSE(describeRequest(kProtocolKorvan, "garbage").valid);
}

// A Modbus text that is not hex throughout is no answer, whatever its function code says.
TEST(ExchangeRecord, ModbusTextWithAStrayCharacterIsAChecksumError) {
    QString code;
    EXPECT_EQ(
        classifyExchange(kProtocolModbusAscii, ":018302 7A\r\n", false, false, false, 0, &code),
        ExchangeOutcome::ChecksumError);
    EXPECT_EQ(
        classifyExchange(kProtocolModbusAscii, ":0183027A\r\n", false, false, false, 0, &code),
        ExchangeOutcome::Refused);
    EXPECT_EQ(code, "02");
}

TEST(ExchangeRecord, TraceLineCarriesTheBytesAndTheOutcome) {
    ExchangeRecord r;
    r.protocol = kProtocolKorvan;
    r.request = framing::korvanRequest("!", " ", " ", "0044", "");
    r.outcome = ExchangeOutcome::Refused;
    r.refusalCode = "01";
    r.attempts = 1;
    r.roundTripMs = 12.34;
    r.discardedBytes = 7;
    EXPECT_TRUE(traceLine(r).contains("korvan R 0044h > 02 21 20 20 30 30 34 34 03 32 43 < - : "
                                      "NAK 01, 1 try, 12.3 ms, 7 bytes discarded"))
        << qPrintable(traceLine(r));
}

// Verify after writing marks the read-back it just made, and nothing else in its place.
TEST(ExchangeRecord, ReadBackMismatchMarksOnlyTheGoodReadOfThatItem) {
    const auto record = [](const char* type, const QByteArray& item, ExchangeOutcome outcome) {
        ExchangeRecord r;
        r.protocol = kProtocolKorvan;
        r.request = framing::korvanRequest("!", " ", type, item, *type == 'P' ? "05DC" : "");
        r.outcome = outcome;
        return r;
    };
    const struct {
        const char* name;
        ExchangeRecord last;
        bool marked;
    } rows[] = {
        {"the read-back", record(" ", "0023", ExchangeOutcome::Good), true},
        {"another item", record(" ", "0024", ExchangeOutcome::Good), false},
        {"the write", record("P", "0023", ExchangeOutcome::Good), false},
        {"a failed read", record(" ", "0023", ExchangeOutcome::NoAnswer), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ExchangeLog log;
        log.exchanged(record("P", "0023", ExchangeOutcome::Good));
        log.exchanged(row.last);
        log.readBackDiffers(0x23, 1500, 1000);
        EXPECT_EQ(log.at(1).outcome == ExchangeOutcome::VerifyMismatch, row.marked);
        EXPECT_EQ(log.at(0).outcome, ExchangeOutcome::Good) << "the write stays good";
        EXPECT_EQ(log.counters().verifyMismatch, row.marked ? 1 : 0);
    }
    ExchangeLog empty;
    empty.readBackDiffers(0x23, 1, 2); // nothing to mark: no crash, no count
    EXPECT_EQ(empty.counters().verifyMismatch, 0);
}

} // namespace
