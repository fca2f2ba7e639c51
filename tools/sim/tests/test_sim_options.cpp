#include "SimOptions.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

using namespace pmx::sim;

TEST(SimOptions, EveryOptionInBothForms) {
    const std::pair<const char*, const char*> given[] = {
        {"--protocol", "RTU"},         {"--instrument", "95"},
        {"--baud", "19200"},           {"--bits", "11"},
        {"--hangup-after", "3"},       {"--hangup-for", "500"},
        {"--delay-all", "250"},        {"--link", "/tmp/x"},
        {"--log", "/tmp/l"},           {"--fault", "0005=nak:3"},
        {"--fault", "007F=delay:500"}, {"--fault", "0010=echo:7f"},
        {"--fault", "0005=badsum"}, // the last fault for an item wins when they are applied
        {"--refuse-span", "40,7f"},    {"--refuse-span", "0002"},
        {"--max-count", "20"},         {"--chaos-seed", "18446744073709551615"},
        {"--chaos-timeout", "150"},    {"--dump", "/tmp/m.txt"},
    };
    QStringList spaced{"--silent", "--echo"}, joined{"--silent", "--echo"};
    for (const auto& [name, value] : given) {
        spaced << name << value;
        joined << QStringLiteral("%1=%2").arg(name, value);
    }
    for (const QStringList& args : {spaced, joined}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ParseResult r = parseArguments(args);
        ASSERT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        const Config& c = r.config;
        EXPECT_EQ(std::tuple(c.protocol, c.instruments, c.baud, c.bitsPerChar, c.hangupAfter,
                             c.hangupForMs, c.delayAllMs, c.silent, c.linkPath, c.logFile),
                  std::tuple(Protocol::ModbusRtu, std::vector<int>{95}, 19200, 11, 3, 500, 250,
                             true, QString("/tmp/x"), QString("/tmp/l")));
        ASSERT_EQ(c.faults.size(), 4u);
        const auto& [nakItem, nak] = c.faults[0];
        EXPECT_EQ(std::tuple(nakItem, nak.kind, nak.code), std::tuple(5, FaultKind::Nak, 3));
        EXPECT_EQ(c.faults[1].second.delayMs, 500);
        EXPECT_EQ(c.faults[2].second.echoItem, 0x7F);
        EXPECT_EQ(c.faults[3].second.kind, FaultKind::BadSum);
        EXPECT_EQ(c.refuseSpans, (std::vector<int>{0x40, 0x7F, 2}));
        EXPECT_EQ(c.maxCount, 20);
        EXPECT_EQ(
            std::tuple(c.echo, c.chaos, c.chaosSeed, c.chaosTimeoutMs, c.dumpFile),
            std::tuple(true, true, quint64(18446744073709551615ULL), 150, QString("/tmp/m.txt")));
    }
    // Several instruments dump each its own memory; without a seed there is no chaos.
    EXPECT_FALSE(parseArguments({"--instrument", "1,2", "--dump", "m.txt"}).error.isEmpty());
    EXPECT_TRUE(parseArguments({"--instrument", "1,2", "--dump", "m-%n.txt"}).error.isEmpty());
    EXPECT_FALSE(parseArguments({}).config.chaos);
    EXPECT_FALSE(parseArguments({"--chaos-seed", "x"}).error.isEmpty());
    EXPECT_TRUE(parseArguments({"-h"}).help);
    EXPECT_TRUE(parseArguments({"--version"}).version);
}

TEST(SimOptions, WritesKeptAnotherWay) {
    const ParseResult r =
        parseArguments({"--fault", "0023=clamp:-10:1000", "--fault", "0024=ignore"});
    ASSERT_TRUE(r.error.isEmpty()) << r.error.toStdString();
    ASSERT_EQ(r.config.faults.size(), 2u);
    const Fault clamp = r.config.faults[0].second;
    EXPECT_EQ(std::tuple(clamp.kind, clamp.minValue, clamp.maxValue),
              std::tuple(FaultKind::Clamp, -10, 1000));
    const Fault ignore = r.config.faults[1].second;
    EXPECT_EQ(ignore.kind, FaultKind::Ignore);
    // What each keeps of a write, at and beyond the limits.
    const struct {
        std::int16_t written, kept;
    } clamped[] = {{-11, -10}, {-10, -10}, {500, 500}, {1000, 1000}, {1001, 1000}, {-32768, -10}};
    for (const auto& c : clamped)
        EXPECT_EQ(keptValue(clamp, 7, c.written), c.kept) << c.written;
    EXPECT_EQ(keptValue(ignore, 7, 1500), 7);
    EXPECT_EQ(keptValue(Fault{}, 7, 1500), 1500);
}

TEST(SimOptions, TcpPortAndListenAddress) {
    // A pty unless --tcp is given; the loopback unless --listen says otherwise.
    EXPECT_EQ(parseArguments({}).config.tcpPort, -1);
    const Config c = parseArguments({"--tcp", "0", "--listen=::1"}).config;
    EXPECT_EQ(std::pair(c.tcpPort, c.tcpListen), std::pair(0, QStringLiteral("::1")));
    EXPECT_EQ(parseArguments({"--tcp=4001"}).config.tcpListen, QStringLiteral("127.0.0.1"));
}

TEST(SimOptions, InstrumentNumbersAndModbusBroadcastAddress) {
    using List = std::vector<int>;
    const struct {
        QStringList args;
        List instruments; // empty: refused
    } rows[] = {
        // KORVAN defaults to 0, Modbus to 1; Modbus refuses 0, its broadcast address.
        {{}, {0}},
        {{"--protocol", "rtu"}, {1}},
        {{"--instrument", "0", "--protocol", "korvan"}, {0}},
        {{"--instrument", "0", "--protocol", "ascii"}, {}},
        {{"--instrument", "3-4,0", "--protocol", "rtu"}, {}},
        // A line of several: in the order given, each once.
        {{"--instrument", "1,3,5-9"}, {1, 3, 5, 6, 7, 8, 9}},
        {{"--instrument=5-6, 1 ,5", "--protocol", "ascii"}, {5, 6, 1}},
        {{"--instrument", "0-2"}, {0, 1, 2}},
        {{"--instrument", "95-95"}, {95}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const ParseResult r = parseArguments(row.args);
        EXPECT_EQ(r.error.isEmpty(), !row.instruments.empty()) << r.error.toStdString();
        if (!row.instruments.empty()) {
            EXPECT_EQ(r.config.instruments, row.instruments);
        }
    }
    for (const char* bad : {"", "1,,3", "5-3", "1-", "-1", "94-96", "x", "1-2-3", "3 4"}) {
        List out{7};
        EXPECT_FALSE(parseInstrumentList(QString::fromLatin1(bad), &out)) << bad;
        EXPECT_EQ(out, List{7}) << "left alone";
    }
}

TEST(SimOptions, BadArgumentsAreOneLineErrors) {
    // Command lines apart at '|', words at blanks.
    const QString bad = QStringLiteral(
        "--protocol tcp|--instrument 96|--instrument|--baud fast|--bits=13|/dev/ttyS0|--bogus|-x|"
        "--silent=1|--hangup-after=0|--hangup-for=-1|--delay-all=60001|--fault 0080=nak|"
        "--fault 0001=explode|--fault 0001=delay:-5|--fault 0001=silent:3|--fault nak|"
        "--fault=0001=echo|--fault=0001=echo:0080|--fault=0001=late|--fault=0001=nak:100|"
        "--fault=0001=clamp|--fault=0001=clamp:5|--fault=0001=clamp:9:1|--fault=0001=clamp:a:b|"
        "--fault=0001=clamp:0:32768|--fault=0001=clamp:0:1:2|--fault=0001=ignore:3|"
        "--refuse-span 0080|--refuse-span 40,,41|--max-count 0|--max-count 126|"
        "--tcp 65536|--tcp -1|--tcp x|--listen 127.0.0.1|--tcp 0 --link /tmp/x|--line 9600|"
        "--line 9600-9E1|--line 9600-7X1|--line 9600-7E3|--line 10-7E1|--line -7E1|"
        "--tcp 0 --line 9600-7E1");
    for (const QString& line : bad.split(QLatin1Char('|'))) {
        const QString error = parseArguments(line.split(QLatin1Char(' '))).error;
        EXPECT_FALSE(error.isEmpty()) << line.toStdString();
        EXPECT_FALSE(error.contains(QLatin1Char('\n'))) << error.toStdString();
    }
    EXPECT_TRUE(parseArguments({"--bogus"}).error.contains("see --help"));
}

TEST(SimOptions, LineSettings) {
    const struct {
        const char* text;
        const char* shown;
    } good[] = {{"9600-7E1", "9600-7E1"}, {"4800-7e2", "4800-7E2"}, {" 2400-8N1 ", "2400-8N1"}};
    for (const auto& g : good) {
        const ParseResult r = parseArguments({"--line", g.text});
        EXPECT_TRUE(r.error.isEmpty() && r.config.line.set) << g.text;
        EXPECT_EQ(lineText(r.config.line), QString::fromLatin1(g.shown));
    }
    EXPECT_FALSE(parseArguments({}).config.line.set);
    // Which client is understood and the noise the others hear are checked on the pty
    // (SimLine); here, that a silence stays one and the log keeps the instrument's answer.
    Reply answer;
    answer.bytes = "\x06# 00010063\x03XX";
    answer.logLine = QStringLiteral("korvan R 0001 -> ACK 0063");
    const std::vector<Reply> heard = overLine({answer, Reply{}}, LineMatch::OtherStopBits, "c");
    EXPECT_TRUE(heard[0].logLine.startsWith(answer.logLine));
    EXPECT_TRUE(heard[1].bytes.isEmpty());
}

// The protocol names a setting-software user types, and the short options of the line.
TEST(SimOptions, TheNamesAndShortOptionsPeopleType) {
    const std::pair<const char*, Protocol> names[] = {
        {"korvan", Protocol::Korvan},     {"KORVAN", Protocol::Korvan},
        {"ascii", Protocol::ModbusAscii}, {"Modbus ASCII", Protocol::ModbusAscii},
        {"rtu", Protocol::ModbusRtu},     {"modbus rtu", Protocol::ModbusRtu}};
    for (const auto& [typed, protocol] : names)
        EXPECT_EQ(parseArguments({"--protocol", typed}).config.protocol, protocol) << typed;
    EXPECT_FALSE(parseArguments({"--protocol", "Modbus"}).error.isEmpty());

    // -d, -s and -P set the fields of the line at the rate of -b or of --line.
    const struct {
        QStringList args;
        const char* line; // empty: an error
    } lines[] = {
        {{"-b4800", "-d8", "-Pnone", "-s1"}, "4800-8N1"},
        {{"--line", "9600-7E1", "-P", "odd"}, "9600-7O1"},
        {{"--baud", "2400", "--data-bits", "8", "--parity", "E"}, "2400-8E1"},
        {{"-s", "2"}, ""},
        {{"-b", "4800", "-s", "3"}, ""},
        {{"-b", "4800", "-P", "mark"}, ""},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.args.join(' ').toStdString());
        const ParseResult r = parseArguments(l.args);
        if (!*l.line) {
            EXPECT_FALSE(r.error.isEmpty());
            continue;
        }
        ASSERT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        EXPECT_EQ(lineText(r.config.line), QLatin1String(l.line));
    }
    // -a, -b and -s reach the running instrument in Habits.TheNamesAndShortOptionsPeopleType.
    EXPECT_FALSE(parseArguments({"-b", "4800"}).config.line.set) << "-b alone only paces";
}

TEST(SimOptions, ValuesFileBothForms) {
    Instrument inst(Protocol::Korvan, 0);
    QString error;
    ASSERT_TRUE(loadValues(QByteArray("# comment\r\n0044=100\r\n\r\n7f = -32768\n0001=0xFFFF\n"
                                      "0002=8000h\n0003=65535\n"),
                           inst, &error))
        << error.toStdString();
    for (const auto& [item, value] :
         {std::pair(0x44, 100), {0x7F, -32768}, {1, -1}, {2, -32768}, {3, -1}, {4, 399}})
        EXPECT_EQ(inst.value(item), value) << item;

    for (const char* bad : {"0080=1\n", "0001=65536\n", "0001\n", "zz=1\n", "0001=1.5\n"}) {
        Instrument other(Protocol::Korvan, 0);
        EXPECT_FALSE(loadValues(QByteArray(bad), other, &error)) << bad;
        EXPECT_TRUE(error.startsWith("line 1")) << error.toStdString();
    }

    // A data file of the program: model name, 128 names, 128 selections, 128 values.
    QByteArray table = "\"PMX-31570A\"\r\n" + QByteArray("\"n\"\r\n").repeated(128) +
                       QByteArray("1\r\n").repeated(128);
    for (int i = 0; i < 128; ++i)
        table += QByteArray::number(i - 64) + "\r\n";
    ASSERT_TRUE(loadValues(table, inst, &error)) << error.toStdString();
    EXPECT_EQ(std::pair(inst.value(0), inst.value(127)), std::pair(qint16(-64), qint16(63)));
}

TEST(SimOptions, ItemNamesFromModelFiles) {
    QStringList utf8, sjis, names;
    QString error;
    ASSERT_TRUE(
        loadItemNames(QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a.txt"), &utf8, &error));
    ASSERT_TRUE(loadItemNames(QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt"), &sjis,
                              &error));
    ASSERT_EQ(utf8.size(), 128);
    EXPECT_EQ(utf8, sjis);

    // Japanese-only file: its names are the ones there are. Quoted fields keep commas.
    QByteArray japaneseOnly = "\"M\"\r\n\"a,b\"\r\n";
    for (int i = 1; i < 128; ++i)
        japaneseOnly += "name" + QByteArray::number(i) + "\r\n";
    ASSERT_TRUE(loadItemNames(japaneseOnly, &names, &error));
    EXPECT_EQ(std::pair(names.front(), names.back()),
              std::pair(QString("a,b"), QString("name127")));
    EXPECT_FALSE(loadItemNames(QByteArray("\"M\"\r\nx\r\n"), &names, &error));
    EXPECT_FALSE(loadItemNames(QStringLiteral("/nonexistent/model.txt"), &names, &error));
}
