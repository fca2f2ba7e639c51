// Exchange records: what the monitor and the trace say of each exchange.
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
    const QByteArray korvanRead = framing::korvanRequest("!", " ", " ", "0044", "");
    EXPECT_EQ(hexBytes(korvanRead), "02 21 20 20 30 30 34 34 03 32 43");
    EXPECT_EQ(printableBytes(korvanRead), "<STX>!  0044<ETX>2C");
    struct Row {
        const char* name;
        qint16 protocol;
        QByteArray frame;
        bool write;
        int station, item, count;
        std::optional<qint16> value;
    };
    const Row rows[] = {
        {"korvan read", kProtocolKorvan, korvanRead, false, 1, 0x44, 1, {}},
        {"korvan write", kProtocolKorvan, framing::korvanRequest("$", " ", "P", "0023", "FFFF"),
         true, 4, 0x23, 1, qint16(-1)},
        {"ascii read",
         kProtocolModbusAscii,
         modbus(kProtocolModbusAscii, "0A0300440001"),
         false,
         10,
         0x44,
         1,
         {}},
        {"rtu block read",
         kProtocolModbusRtu,
         modbus(kProtocolModbusRtu, "01030000007D"),
         false,
         1,
         0,
         125,
         {}},
        {"rtu write", kProtocolModbusRtu, modbus(kProtocolModbusRtu, "0106007F8000"), true, 1, 0x7F,
         1, qint16(-32768)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const RequestMeaning m = describeRequest(row.protocol, row.frame);
        EXPECT_TRUE(m.valid);
        EXPECT_EQ(m.write, row.write);
        EXPECT_EQ(m.station, row.station);
        EXPECT_EQ(m.item, row.item);
        EXPECT_EQ(m.count, row.count);
        EXPECT_EQ(m.value, row.value);
    }
    EXPECT_FALSE(describeRequest(kProtocolModbusAscii, ":0X0300440001B8\r\n").valid);
    EXPECT_FALSE(describeRequest(kProtocolKorvan, "garbage").valid);
}

TEST(ExchangeRecord, OutcomesOfEveryKind) {
    const auto korvan = [](char lead, const QByteArray& body) {
        const QByteArray covered = body + framing::kEtx;
        return lead + covered + "00";
    };
    struct Row {
        const char* name;
        qint16 protocol;
        QByteArray text;
        bool silent, gone, broadcast;
        int discarded;
        ExchangeOutcome outcome;
        QString code;
    };
    const Row rows[] = {
        {"korvan ack",
         kProtocolKorvan,
         korvan(framing::kAck, "!  00441A8F"),
         false,
         false,
         false,
         0,
         ExchangeOutcome::Good,
         {}},
        {"korvan nak", kProtocolKorvan, korvan(framing::kNak, "!  004403"), false, false, false, 0,
         ExchangeOutcome::Refused, "03"},
        {"korvan esc",
         kProtocolKorvan,
         korvan(framing::kEsc, "!  0044"),
         false,
         false,
         false,
         0,
         ExchangeOutcome::ChecksumError,
         {}},
        {"modbus good",
         kProtocolModbusRtu,
         ":0103021A8FD0\r\n",
         false,
         false,
         false,
         0,
         ExchangeOutcome::Good,
         {}},
        {"modbus text with a stray character",
         kProtocolModbusAscii,
         ":018302 7A\r\n",
         false,
         false,
         false,
         0,
         ExchangeOutcome::ChecksumError,
         {}},
        {"modbus exception", kProtocolModbusAscii, ":0183027A\r\n", false, false, false, 0,
         ExchangeOutcome::Refused, "02"},
        {"modbus garbled",
         kProtocolModbusAscii,
         "",
         false,
         false,
         false,
         0,
         ExchangeOutcome::ChecksumError,
         {}},
        {"silent", kProtocolModbusAscii, "", true, false, false, 0, ExchangeOutcome::NoAnswer, {}},
        {"stale", kProtocolKorvan, "", true, false, false, 1, ExchangeOutcome::Stale, {}},
        {"lost", kProtocolKorvan, "", true, true, false, 0, ExchangeOutcome::DeviceLost, {}},
        {"broadcast",
         kProtocolModbusRtu,
         "",
         false,
         false,
         true,
         0,
         ExchangeOutcome::Broadcast,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QString code;
        EXPECT_EQ(classifyExchange(row.protocol, row.text, row.silent, row.gone, row.broadcast,
                                   row.discarded, &code),
                  row.outcome);
        EXPECT_EQ(code, row.code);
    }
}

TEST(ExchangeRecord, LogKeepsTheLastRecordsAndCountsThemAll) {
    ExchangeLog log(3);
    int changes = 0;
    log.onChanged = [&changes] { ++changes; };
    for (int i = 0; i < 5; ++i) {
        ExchangeRecord r;
        r.attempts = i;
        r.outcome = i % 2 ? ExchangeOutcome::Good : ExchangeOutcome::NoAnswer;
        r.discardedBytes = 2;
        log.exchanged(r);
    }
    EXPECT_EQ(log.size(), 3);
    EXPECT_EQ(log.at(0).attempts, 2);
    EXPECT_EQ(log.dropped(), 2);
    EXPECT_EQ(log.counters().exchanges, 5);
    EXPECT_EQ(log.counters().good, 2);
    EXPECT_EQ(log.counters().noAnswer, 3);
    EXPECT_EQ(log.counters().discardedBytes, 10);
    EXPECT_EQ(changes, 5);
    log.clear();
    EXPECT_EQ(log.size(), 0);
    EXPECT_EQ(log.counters().exchanges, 0);
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
    const QString line = traceLine(r);
    EXPECT_TRUE(line.contains("korvan R 0044h > 02 21 20 20 30 30 34 34 03 32 43 < - : NAK 01, 1 "
                              "try, 12.3 ms, 7 bytes discarded"))
        << qPrintable(line);
}

// Verify after writing marks the read-back it just made, and nothing else in its place.
TEST(ExchangeRecord, ReadBackMismatchMarksOnlyTheGoodReadOfThatItem) {
    const auto record = [](const char* type, const QByteArray& item, const QByteArray& data,
                           ExchangeOutcome outcome) {
        ExchangeRecord r;
        r.protocol = kProtocolKorvan;
        r.request = framing::korvanRequest("!", " ", type, item, data);
        r.outcome = outcome;
        return r;
    };
    const struct {
        const char* name;
        ExchangeRecord last;
        bool marked;
    } rows[] = {
        {"the read-back", record(" ", "0023", "", ExchangeOutcome::Good), true},
        {"another item", record(" ", "0024", "", ExchangeOutcome::Good), false},
        {"the write", record("P", "0023", "05DC", ExchangeOutcome::Good), false},
        {"a failed read", record(" ", "0023", "", ExchangeOutcome::NoAnswer), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ExchangeLog log;
        int changes = 0;
        log.onChanged = [&changes] { ++changes; };
        log.exchanged(record("P", "0023", "05DC", ExchangeOutcome::Good));
        log.exchanged(row.last);
        const ExchangeLog::Counters before = log.counters();
        log.readBackDiffers(0x23, 1500, 1000);
        const ExchangeRecord& r = log.at(1);
        EXPECT_EQ(r.outcome == ExchangeOutcome::VerifyMismatch, row.marked);
        EXPECT_EQ(log.at(0).outcome, ExchangeOutcome::Good) << "the write stays good";
        EXPECT_EQ(log.marks(), row.marked ? 1 : 0);
        EXPECT_EQ(changes, row.marked ? 3 : 2);
        EXPECT_EQ(log.counters().good, before.good - (row.marked ? 1 : 0));
        EXPECT_EQ(log.counters().verifyMismatch, row.marked ? 1 : 0);
        EXPECT_EQ(log.counters().exchanges, 2);
        if (row.marked) {
            EXPECT_TRUE(traceLine(r).contains(" : verify mismatch (wrote 1500, holds 1000), 0 "))
                << qPrintable(traceLine(r));
        }
    }
    ExchangeLog empty;
    empty.readBackDiffers(0x23, 1, 2); // nothing to mark: no crash, no count
    EXPECT_EQ(empty.counters().verifyMismatch, 0);
}

} // namespace
