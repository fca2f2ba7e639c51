// Several instruments on one line: each answers as it would alone, with its own memory;
// a number not on the line gets no answer; a Modbus broadcast is carried out by all.
#include "SimFrames.h"
#include "SimLine.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx::sim;
using namespace pmx::sim::test;

namespace {

QByteArray request(Protocol p, int station, int item, std::optional<int> write = {}) {
    const QByteArray itemHex = QByteArray::number(item, 16).rightJustified(4, '0').toUpper();
    const QByteArray valueHex =
        write ? QByteArray::number(*write & 0xFFFF, 16).rightJustified(4, '0').toUpper() : "";
    if (p == Protocol::Korvan)
        return korvanRequest(station, write ? 'P' : ' ', itemHex, valueHex);
    const QByteArray hex = QByteArray::number(station, 16).rightJustified(2, '0') +
                           (write ? "06" + itemHex + valueHex : "03" + itemHex + "0001");
    return modbusFrame(p, hex.constData());
}

std::vector<Reply> feedAll(Line& line, const QByteArray& bytes) {
    std::vector<Reply> out = line.feed(bytes);
    for (Reply& r : line.lineIdle()) // RTU ends a frame it cannot delimit on silence
        out.push_back(r);
    return out;
}

class MultiDrop : public ::testing::TestWithParam<Protocol> {};

} // namespace

TEST_P(MultiDrop, EachNumberAnswersAsItWouldAloneAndNoOtherDoes) {
    const Protocol p = GetParam();
    const QString proto = protocolName(p);
    Line line(p, {1, 3, 5});
    Instrument alone(p, 3); // what instrument 3 would answer on a line of its own
    for (Instrument* i : {line.find(3), &alone})
        i->setValue(0x10, 1234);

    // Reads: the addressed instrument's own value, and its number in the log.
    std::vector<Reply> r = feedAll(line, request(p, 3, 0x10));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].bytes, alone.feed(request(p, 3, 0x10)).at(0).bytes);
    EXPECT_TRUE(r[0].addressed);
    EXPECT_TRUE(r[0].logLine.startsWith(proto + "@3 R 0010 -> ")) << r[0].logLine.toStdString();
    r = feedAll(line, request(p, 1, 0x10));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NE(r[0].bytes, alone.feed(request(p, 3, 0x10)).at(0).bytes) << "1 holds its own";

    // A write changes the addressed instrument's memory only.
    r = feedAll(line, request(p, 5, 0x10, 7));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].bytes.isEmpty());
    EXPECT_EQ(
        std::tuple(line.find(1)->value(0x10), line.find(3)->value(0x10), line.find(5)->value(0x10)),
        std::tuple(1599, 1234, 7));

    // A number not on the line: nothing answered, nothing carried out, one log line.
    for (int absent : {2, 4, 6}) {
        r = feedAll(line, request(p, absent, 0x11, 9));
        ASSERT_EQ(r.size(), 1u) << absent;
        EXPECT_TRUE(r[0].bytes.isEmpty());
        EXPECT_FALSE(r[0].addressed);
        EXPECT_TRUE(r[0].logLine.startsWith(proto + " ? -> ignored")) << r[0].logLine.toStdString();
    }
    for (int n : {1, 3, 5})
        EXPECT_EQ(line.find(n)->value(0x11), 1699);

    // Junk before a request: dropped once for the line, the request still answered.
    r = feedAll(line, "\x7F\x7F" + request(p, 1, 0x12));
    ASSERT_FALSE(r.empty());
    EXPECT_FALSE(r.back().bytes.isEmpty());
    EXPECT_EQ(line.pendingBytes(), 0);
}

INSTANTIATE_TEST_SUITE_P(, MultiDrop,
                         ::testing::Values(Protocol::Korvan, Protocol::ModbusAscii,
                                           Protocol::ModbusRtu),
                         [](const auto& info) { return protocolName(info.param).toStdString(); });

TEST(MultiDropLine, ModbusBroadcastIsCarriedOutByAllAndAnsweredByNone) {
    for (const Protocol p : {Protocol::ModbusAscii, Protocol::ModbusRtu}) {
        SCOPED_TRACE(protocolName(p).toStdString());
        Line line(p, {2, 7});
        const std::vector<Reply> r = feedAll(line, request(p, 0, 0x20, 42));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_TRUE(r[0].bytes.isEmpty());
        EXPECT_TRUE(r[0].addressed) << "counts as a request for --hangup-after";
        EXPECT_EQ(r[0].logLine, protocolName(p) + " W 0020 002A -> none (broadcast)");
        EXPECT_EQ(std::pair(line.find(2)->value(0x20), line.find(7)->value(0x20)),
                  std::pair(std::int16_t(42), std::int16_t(42)));
    }
}

TEST(MultiDropLine, OneInstrumentKeepsTheLogOfOne) {
    Line line(Protocol::Korvan, {4});
    const std::vector<Reply> r = line.feed(request(Protocol::Korvan, 4, 0x44));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].logLine, "korvan R 0044 -> ACK 1A8F");
    EXPECT_EQ(line.describe(), "instrument 4");
    EXPECT_EQ(Line(Protocol::ModbusRtu, {1, 3}).describe(), "instruments 1, 3");
}

// Memory per instrument from the %n files, faults for all of them.
TEST(MultiDropLine, SetUpGivesEachItsFileAndEveryoneTheFaults) {
    QTemporaryDir dir;
    for (const auto& [n, text] : {std::pair(1, "0010=11\n"), std::pair(3, "0010=33\n")}) {
        QFile f(dir.filePath(QStringLiteral("mem-%1.txt").arg(n)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    const ParseResult parsed =
        parseArguments({"--instrument", "1,3", "--values", dir.filePath("mem-%n.txt"), "--fault",
                        "0023=clamp:0:100", "--max-count", "8"});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    Line line(parsed.config.protocol, parsed.config.instruments);
    QString error;
    ASSERT_TRUE(setUpLine(parsed.config, line, &error)) << error.toStdString();
    EXPECT_EQ(std::pair(line.find(1)->value(0x10), line.find(3)->value(0x10)),
              std::pair(std::int16_t(11), std::int16_t(33)));
    for (int n : {1, 3})
        EXPECT_EQ(line.find(n)->fault(0x23).kind, FaultKind::Clamp) << n;

    // One file missing: refused, naming that file.
    Config config = parsed.config;
    config.instruments = {1, 4};
    Line other(config.protocol, config.instruments);
    EXPECT_FALSE(setUpLine(config, other, &error));
    EXPECT_TRUE(error.contains("mem-4.txt")) << error.toStdString();
}
