// Exchange records: what a request asks for, and which record a read-back that differs
// marks. How the serial object's exchanges end and what their records carry is checked on
// the scripted line (test_line_integrity); the monitor and the trace show them
// (test_monitor, Cli.TraceProgressAndSummaryLines).
#include "comm/CommObject.h"
#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"

#include <gtest/gtest.h>

using namespace pmx;

namespace {

// The write of every protocol is described on the scripted line
// (LineIntegrity.ObserverRecordsEveryOutcome), the read of one item by each protocol's
// monitor rows in test_transfer_e2e; here a block read and what is no request.
TEST(ExchangeRecord, RequestsAreDescribedInEveryProtocol) {
    const RequestMeaning block = describeRequest(
        kProtocolModbusRtu, framing::modbusRtuFrame(QByteArray::fromHex("01030000007D")));
    EXPECT_EQ(std::tuple(block.valid, block.item, block.count), std::tuple(true, 0, 125));
    EXPECT_FALSE(describeRequest(kProtocolModbusAscii, ":0X0300440001B8\r\n").valid);
    EXPECT_FALSE(describeRequest(kProtocolKorvan, "garbage").valid);
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

// The trace file's line: what was asked, the frames in hex, how it ended, tries and time.
TEST(ExchangeRecord, TraceLineSaysHowTheExchangeEnded) {
    ExchangeRecord r;
    r.protocol = kProtocolModbusRtu;
    r.request = framing::modbusRtuFrame(QByteArray::fromHex("010300440001"));
    r.answer = framing::modbusRtuFrame(QByteArray::fromHex("018302"));
    r.outcome = ExchangeOutcome::Refused;
    r.refusalCode = QStringLiteral("02");
    r.attempts = 2;
    r.roundTripMs = 12.5;
    r.discardedBytes = 3;
    const QString refused = traceLine(r);
    EXPECT_TRUE(refused.contains(" rtu R 0044h > 01 03 00 44 00 01 ")) << refused.toStdString();
    EXPECT_TRUE(refused.endsWith(" : exception 02, 2 tries, 12.5 ms, 3 bytes discarded"))
        << refused.toStdString();
    r.outcome = ExchangeOutcome::VerifyMismatch;
    r.wrote = 500;
    r.holds = 100;
    r.discardedBytes = 0;
    EXPECT_TRUE(
        traceLine(r).endsWith(" : verify mismatch (wrote 500, holds 100), 2 tries, 12.5 ms"))
        << traceLine(r).toStdString();
}

} // namespace
