#include "SimOptions.h"

#include <gtest/gtest.h>

using namespace pmx::sim;

TEST(SimOptions, ArgumentsAndFaults) {
    ParseResult r = parseArguments({"--protocol", "RTU", "--instrument=95", "--baud", "19200",
                                    "--fault", "0005=nak:3", "--fault=007F=delay:500", "--fault",
                                    "0010=badsum", "--silent", "--link", "/tmp/x"});
    ASSERT_TRUE(r.error.isEmpty()) << r.error.toStdString();
    EXPECT_EQ(r.config.protocol, Protocol::ModbusRtu);
    EXPECT_EQ(r.config.instrumentNo, 95);
    EXPECT_EQ(r.config.baud, 19200);
    EXPECT_TRUE(r.config.silent);
    EXPECT_EQ(r.config.linkPath, "/tmp/x");
    ASSERT_EQ(r.config.faults.size(), 3u);
    EXPECT_EQ(r.config.faults[0].first, 5);
    EXPECT_EQ(r.config.faults[0].second.kind, FaultKind::Nak);
    EXPECT_EQ(r.config.faults[0].second.code, 3);
    EXPECT_EQ(r.config.faults[1].first, 0x7F);
    EXPECT_EQ(r.config.faults[1].second.delayMs, 500);
    EXPECT_EQ(r.config.faults[2].second.kind, FaultKind::BadSum);

    EXPECT_TRUE(parseArguments({"--help"}).help);
    for (const QStringList& bad :
         {QStringList{"--protocol", "tcp"}, QStringList{"--instrument", "96"},
          QStringList{"--instrument"}, QStringList{"--baud", "fast"},
          QStringList{"--fault", "0080=nak"}, QStringList{"--fault", "0001=explode"},
          QStringList{"--fault", "0001=delay:-5"}, QStringList{"--fault", "0001=silent:3"},
          QStringList{"--fault", "nak"}, QStringList{"/dev/ttyS0"}})
        EXPECT_FALSE(parseArguments(bad).error.isEmpty()) << bad.join(' ').toStdString();
}

TEST(SimOptions, InstrumentNumberAndModbusBroadcastAddress) {
    // KORVAN defaults to 0, Modbus to 1; Modbus refuses 0, its broadcast address, in any order.
    EXPECT_EQ(parseArguments({}).config.instrumentNo, 0);
    EXPECT_EQ(parseArguments({"--protocol", "rtu"}).config.instrumentNo, 1);
    EXPECT_EQ(parseArguments({"--instrument", "0", "--protocol", "korvan"}).config.instrumentNo, 0);
    EXPECT_FALSE(parseArguments({"--instrument", "0", "--protocol", "ascii"}).error.isEmpty());
}

TEST(SimOptions, HangupDelayAndEchoOptions) {
    const ParseResult r =
        parseArguments({"--hangup-after", "3", "--hangup-for=500", "--delay-all", "250", "--fault",
                        "0010=echo:7f", "--fault", "0011=late:300"});
    ASSERT_TRUE(r.error.isEmpty()) << r.error.toStdString();
    EXPECT_EQ(r.config.hangupAfter, 3);
    EXPECT_EQ(r.config.hangupForMs, 500);
    EXPECT_EQ(r.config.delayAllMs, 250);
    ASSERT_EQ(r.config.faults.size(), 2u);
    EXPECT_EQ(r.config.faults[0].second.echoItem, 0x7F);
    EXPECT_EQ(r.config.faults[1].second.kind, FaultKind::Delay);
    EXPECT_EQ(r.config.faults[1].second.delayMs, 300);

    for (const char* bad : {"--hangup-after=0", "--hangup-after=x", "--hangup-for=-1",
                            "--delay-all=60001", "--delay-all=-5", "--fault=0001=echo",
                            "--fault=0001=echo:0080", "--fault=0001=late", "--fault=0001=late:-1"})
        EXPECT_FALSE(parseArguments({bad}).error.isEmpty()) << bad;
}

TEST(SimOptions, ValuesFileBothForms) {
    Instrument inst(Protocol::Korvan, 0);
    QString error;
    ASSERT_TRUE(loadValues(QByteArray("# comment\r\n0044=100\r\n\r\n7f = -32768\n0001=0xFFFF\n"
                                      "0002=8000h\n0003=65535\n"),
                           inst, &error))
        << error.toStdString();
    EXPECT_EQ(inst.value(0x44), 100);
    EXPECT_EQ(inst.value(0x7F), -32768);
    EXPECT_EQ(inst.value(1), -1);
    EXPECT_EQ(inst.value(2), -32768);
    EXPECT_EQ(inst.value(3), -1);
    EXPECT_EQ(inst.value(4), defaultValue(4));

    for (const char* bad : {"0080=1\n", "0001=65536\n", "0001\n", "zz=1\n", "0001=1.5\n"}) {
        Instrument other(Protocol::Korvan, 0);
        EXPECT_FALSE(loadValues(QByteArray(bad), other, &error)) << bad;
        EXPECT_TRUE(error.startsWith("line 1")) << error.toStdString();
    }

    // A data file of the program: model name, 128 names, 128 selections, 128 values.
    QByteArray table = "\"PMX-31570A\"\r\n";
    for (int i = 0; i < 128; ++i)
        table += "\"n\"\r\n";
    for (int i = 0; i < 128; ++i)
        table += "1\r\n";
    for (int i = 0; i < 128; ++i)
        table += QByteArray::number(i - 64) + "\r\n";
    ASSERT_TRUE(loadValues(table, inst, &error)) << error.toStdString();
    EXPECT_EQ(inst.value(0), -64);
    EXPECT_EQ(inst.value(127), 63);
}

TEST(SimOptions, ItemNamesFromModelFiles) {
    QStringList utf8;
    QStringList sjis;
    QString error;
    ASSERT_TRUE(
        loadItemNames(QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a.txt"), &utf8, &error))
        << error.toStdString();
    ASSERT_TRUE(
        loadItemNames(QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt"), &sjis, &error))
        << error.toStdString();
    ASSERT_EQ(utf8.size(), 128);
    EXPECT_EQ(utf8, sjis);

    // Japanese-only file: its names are the ones there are. Quoted fields keep commas.
    QByteArray japaneseOnly = "\"M\"\r\n\"a,b\"\r\n";
    for (int i = 1; i < 128; ++i)
        japaneseOnly += "name" + QByteArray::number(i) + "\r\n";
    QStringList names;
    ASSERT_TRUE(loadItemNames(japaneseOnly, &names, &error));
    EXPECT_EQ(names.front(), "a,b");
    EXPECT_EQ(names.back(), "name127");
    EXPECT_FALSE(loadItemNames(QByteArray("\"M\"\r\nx\r\n"), &names, &error));
    EXPECT_FALSE(loadItemNames(QStringLiteral("/nonexistent/model.txt"), &names, &error));
}
