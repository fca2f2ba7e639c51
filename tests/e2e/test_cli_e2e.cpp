// The command-line front end against the virtual instrument: output and exit statuses,
// for each protocol where the protocol matters.
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "text/StringTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

using test::CliRun;

class Cli : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    CliRun cli(const QStringList& args) { return test::runCli(dir.path(), args); }
    // 0001 = -99, 0005 = -95 and 0044 = -32 selected.
    QString table() { return test::writeTestTable(dir.path() + "/in.dat"); }
};

// Instrument 4 in each protocol; the instrument's default memory holds 100 * i - 1.
class CliProtocol : public Cli, public ::testing::WithParamInterface<test::ProtocolCase> {
  protected:
    bool start(const QStringList& extra = {}) {
        const bool started =
            sim.start(QStringList{"--protocol", GetParam().name, "--instrument", "4"} + extra);
        EXPECT_TRUE(started) << qPrintable(sim.errorText());
        return started;
    }
    // The line to the instrument as started last, both spellings of an option's value.
    QStringList line(const QStringList& command) const {
        const QString protocol =
            cond::toTexts({.protocol = ProtocolNumber(GetParam().no)}).protocol;
        return QStringList{"--port=" + sim.devicePath(), "--protocol", protocol, "--instrument=4"} +
               command;
    }
    QString refused() const {
        return strings::text(GetParam().no == kProtocolKorvan ? TextId::NegativeAcknowledgement
                                                              : TextId::CommErrorOrNak);
    }
};

} // namespace

TEST_P(CliProtocol, ReadGoesPastARefusedItemAndNeverPrintsAnOldValue) {
    ASSERT_TRUE(start({"--fault", "0005=nak"}));
    const QString outPath = dir.path() + "/out.dat";
    const CliRun r = cli(line({"read", "--table", table(), "--out", outPath, "--hex"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "pmx31570a-cli: 0005h: " + refused() + "\nread: 3 items, 2 good, 1 failed\n");
    EXPECT_EQ(r.out, "0001\tItem 1\t63h\n0005\tItem 5\t" + refused() + "\n0044\tItem 68\t1A8Fh\n");
    ItemTable back;
    ASSERT_TRUE(loadTableFile(outPath, back, TableReadMode::AllOrNothing).ok);
    EXPECT_EQ(back.values[68], 6799);
    EXPECT_EQ(back.values[5], -95) << "the refused item keeps its value";
}

// What was read before the loss is printed, as after a stop; the table file is not
// written, since it would mix new values with old ones.
TEST_P(CliProtocol, LostDeviceEndsTheRunAtOnceKeepingWhatWasRead) {
    ASSERT_TRUE(start({"--hangup-after", "2"}));
    // All 128 items selected: without noticing the loss, each would fail in turn.
    ItemTable t;
    t.selections.fill(Selection::Selected);
    const QString in = dir.path() + "/all.dat";
    ASSERT_TRUE(saveTableFile(in, t));
    const QString outPath = dir.path() + "/lost.dat";
    const CliRun r = cli(line({"read", "--table", in, "--out", outPath}));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "0000\t\t-1\n0001\t\t99\n");
    EXPECT_EQ(r.err,
              QStringLiteral("pmx31570a-cli: Connection to %1 lost.\n"
                             "read: 128 items, 2 good, 0 failed, 126 not read "
                             "(0002h-007Fh), device lost\n"
                             "pmx31570a-cli: not written: %2 (the device was lost; the file is as "
                             "it was)\n")
                  .arg(sim.devicePath(), outPath));
    EXPECT_FALSE(QFile::exists(outPath));
}

TEST_P(CliProtocol, CompareWriteOnlyChangedAndVerify) {
    const QString in = table();
    const QStringList compare = {"compare", "--table", in};
    // Different: the default memory; --hex as the read prints it.
    ASSERT_TRUE(start());
    CliRun r = cli(line(compare + QStringList{"--hex"}));
    EXPECT_EQ(r.code, 4) << qPrintable(r.err);
    EXPECT_EQ(r.out, "0001\tItem 1\tFF9Dh\t63h\n0005\tItem 5\tFFA1h\t1F3h\n"
                     "0044\tItem 68\tFFE0h\t1A8Fh\n");

    // Unreadable wins over different; the reason stands in the instrument's place.
    ASSERT_TRUE(start({"--fault", "0005=nak"}));
    r = cli(line(compare));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "0001\tItem 1\t-99\t99\n0005\tItem 5\t-95\t" + refused() +
                         "\n0044\tItem 68\t-32\t6799\n");
    EXPECT_TRUE(r.err.endsWith("2 of 3 items differ; 1 could not be read\n")) << qPrintable(r.err);

    // Only the differing item is written, after one read of each selected item.
    ASSERT_TRUE(start({"--values", test::writeValuesFile(dir.path() + "/mem.txt",
                                                         "0001=7\n0005=-95\n0044=-32\n")}));
    r = cli(line({"write", "--table", in, "--only-changed"}));
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(sim.logLines().filter(" R ").size(), 3);
    const QStringList writes = sim.logLines().filter(" W ");
    ASSERT_EQ(writes.size(), 1);
    EXPECT_TRUE(writes[0].contains(" W 0001 FF9D")) << qPrintable(writes[0]);
    r = cli(line(compare)); // now equal
    EXPECT_EQ(std::tuple(r.code, r.out, r.err),
              std::tuple(0, QString(), QString("0 of 3 items differ; 0 could not be read\n")));

    // Verify: a clamped item is reported and gives status 4; without --verify it is not.
    ASSERT_TRUE(start({"--fault", "0044=clamp:0:100"}));
    r = cli(line({"write", "--table", in}));
    EXPECT_EQ(std::tuple(r.code, r.err),
              std::tuple(0, QString("write: 3 items, 3 good, 0 failed\n")));
    r = cli(line({"write", "--table", in, "--verify"}));
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, "pmx31570a-cli: 0044h: wrote -32, instrument holds 0\n"
                     "write: 3 items, 2 good, 0 failed, 1 not kept\n");
}

INSTANTIATE_TEST_SUITE_P(, CliProtocol, test::allProtocols(), ::testing::PrintToStringParamName());

TEST_F(Cli, ModbusStationZeroBroadcastsWritesAndRefusesReads) {
    ASSERT_TRUE(sim.start({"--protocol", "ascii"})); // instrument 1
    const QStringList station0 = {"--port",       sim.devicePath(), "--protocol",
                                  "Modbus ASCII", "--instrument",   "0"};
    CliRun r = cli(station0 + QStringList{"read", "--table", table()});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("1 to 95")) << qPrintable(r.err);
    EXPECT_TRUE(sim.logLines().isEmpty()) << "nothing is sent";

    r = cli(station0 + QStringList{"write", "--table", table()});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.err, "pmx31570a-cli: 3 written as broadcast, not confirmed.\n"
                     "write: 3 items, 0 good, 0 failed, 3 not confirmed\n");
}

TEST_F(Cli, ConditionsAndPortsThatDoNotOpen) {
    ASSERT_TRUE(sim.start({"--protocol", "rtu", "--instrument", "4"}));
    const QStringList rtu4 = {"--port", sim.devicePath(), "--protocol", "Modbus RTU",
                              "--instrument=4"};
    CliRun r = cli(rtu4 + QStringList{"conditions"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_TRUE(
        r.out.startsWith("Protocol: Modbus RTU\nInstrument number: 4\nTransfer rate: 9600\n"));
    EXPECT_TRUE(r.out.endsWith("Block reads (Modbus): Off\n"));
    r = cli(rtu4 + QStringList{"--block-read", "--block-max=40", "conditions"});
    EXPECT_TRUE(r.out.endsWith("Block reads (Modbus): On, 40 per request\n")) << qPrintable(r.out);

    r = cli({"--port", dir.path() + "/no-such-device", "conditions"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.startsWith(
        "pmx31570a-cli: Communication error! Check the communication conditions. "));
    EXPECT_EQ(r.err.count('\n'), 1) << "one line";
    // Nobody listens on port 1.
    r = cli({"--port", "tcp://127.0.0.1:1", "conditions"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains(" tcp://127.0.0.1:1 could not be opened (")) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("refused", Qt::CaseInsensitive)) << qPrintable(r.err);
    // Overrides are never stored.
    EXPECT_FALSE(QFile::exists(dir.path() + "/config/KORVAN DELTRIS.conf"));
}

// --help and --version are the install check's (tests/install/check_install.sh); every
// other mistake is one line on standard error (tests/e2e/test_cli_habits_e2e.cpp).
TEST_F(Cli, ArgumentsAndHelp) {
    const struct {
        QStringList args;
        int code;
        const char *out, *err; // how they begin
    } cases[] = {
        {{"read", "-h"}, 0, "pmx31570a-cli [OPTIONS] read [--table IN.dat]", ""},
        {{}, 2, "", "pmx31570a-cli: no command given (see --help)\n"},
        {{"frobnicate"}, 2, "", "pmx31570a-cli: unknown command frobnicate (see --help)\n"},
        {{"read", "--bogus"}, 2, "", "pmx31570a-cli: unknown option '--bogus' (see --help)\n"},
        {{"conditions", "--rate"}, 2, "", "pmx31570a-cli: missing value after '--rate' (see"},
        {{"--hex=1", "read"}, 2, "", "pmx31570a-cli: unexpected value after '--hex' (see"},
        {{"write"}, 2, "", "pmx31570a-cli: --table IN.dat is required\n"},
        {{"read", "--verify"}, 2, "", "pmx31570a-cli: --verify does not apply to read (see read"},
        {{"read", "extra"}, 2, "", "pmx31570a-cli: unexpected argument extra (see read --help)"},
        // The choices are the conditions dialog's.
        {{"--rate=1", "conditions"}, 2, "", "pmx31570a-cli: --rate must be 2400, 4800, 9600 or "},
        {{"--instrument", "96", "conditions"}, 2, "", "pmx31570a-cli: --instrument must be 0..95 "},
        {{"--timeout=99", "conditions"}, 2, "", "pmx31570a-cli: --timeout must be 100..4000 ms\n"},
        {{"--block-max=1", "read"}, 2, "", "pmx31570a-cli: --block-max must be 2..125\n"},
        // Lists of instruments; no number or range can run past the last instrument.
        {{"--instrument", "5-3", "read"}, 2, "", ""},
        {{"--instrument", "4,96", "read"}, 2, "", "pmx31570a-cli: --instrument must be 0..95"},
        {{"--instrument", "2147483647", "read"}, 2, "", "pmx31570a-cli: --instrument must be 0"},
        {{"--instrument", "90-2147483647", "read"}, 2, "", ""},
        {{"--instrument", "-1", "read"}, 2, "", ""},
        {{"--instrument", "4,5", "read", "--out", "one.dat"}, 2, "", ""}, // one file for two
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out.left(qsizetype(qstrlen(c.out))), QLatin1String(c.out));
        EXPECT_EQ(r.err.left(qsizetype(qstrlen(c.err))), QLatin1String(c.err));
        EXPECT_TRUE((*c.out ? r.err : r.out).isEmpty()) << "one stream only";
    }
}

TEST_F(Cli, ExportAndReportUseTheWindowsWritersAndAnUnreadableTableStopsThem) {
    const QString in = table();
    const QString csv = dir.path() + "/list.csv";
    EXPECT_EQ(cli({"export-csv", "--table", in, "--hex", csv}).code, 0);
    EXPECT_EQ(cli({"export-csv", "--table", in, "--hex", csv}).code, 0); // appends
    ItemTable t;
    ASSERT_TRUE(loadTableFile(in, t, TableReadMode::AllOrNothing).ok);
    ListArrays lists;
    fillListArrays(t, true, lists);
    const QByteArray block = csvBlock(lists, strings::Lang::English).toUtf8();
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), block + block);
    // Another encoding: a new file takes it; the file that holds UTF-8 keeps its own.
    const QString bom = dir.path() + "/bom.csv";
    EXPECT_EQ(cli({"export-csv", "--table", in, "--hex", "--encoding", "utf-8-bom", bom}).code, 0);
    QFile b(bom);
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(b.readAll(), "\xEF\xBB\xBF" + block);
    const CliRun kept =
        cli({"export-csv", "--table", in, "--lang", "ja", "--encoding", "shift_jis", bom});
    EXPECT_EQ(kept.code, 0);
    // --lang is the language of the messages too.
    EXPECT_EQ(kept.err, "pmx31570a-cli: ファイルの文字コード utf-8-bom で書き込みました\n");
    const CliRun wrong = cli({"export-csv", "--table", in, "--encoding", "latin1", csv});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_TRUE(wrong.err.contains("--encoding must be")) << qPrintable(wrong.err);

    const QString pdf = dir.path() + "/list.pdf";
    const CliRun r = cli({"report", "--table", in, "--lang", "ja", "--pdf", pdf});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    QFile p(pdf); // its pages are the renderer's tests' business
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    EXPECT_TRUE(p.readAll().startsWith("%PDF"));

    QFile bad(dir.path() + "/bad.dat");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\"cut short\"\r\n");
    bad.close();
    const CliRun refused = cli({"export-csv", "--table", bad.fileName(), dir.path() + "/x.csv"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains("bad.dat"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/x.csv"));
}

// The trace names each exchange and its outcome; the progress line rewrites itself and is
// wiped before anything else is said; --quiet leaves only the errors.
TEST_F(Cli, TraceProgressAndSummaryLines) {
    ASSERT_TRUE(sim.start({"--protocol", "korvan", "--instrument", "1", "--fault", "0005=silent"}))
        << qPrintable(sim.errorText());
    const QStringList korvan1 = {"--port", sim.devicePath(), "--protocol",
                                 "KORVAN", "--instrument",   "1"};
    CliRun r = cli(korvan1 + QStringList{"--trace", "read", "--table", table()});
    EXPECT_EQ(r.code, 1);
    const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << qPrintable(r.err); // three exchanges, one failure, summary
    EXPECT_TRUE(lines.filter("R 0044h").value(0).contains(": good, 1 try")) << qPrintable(r.err);
    EXPECT_TRUE(lines.filter("R 0005h").value(0).contains("< - : no answer"));
    EXPECT_EQ(lines.last(), "read: 3 items, 2 good, 1 failed");

    r = cli(korvan1 + QStringList{"--progress", "write", "--table", table()});
    EXPECT_TRUE(r.err.startsWith("\rwrite 1/3  0044h\r")) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("\rwrite 3/3  0005h")) << qPrintable(r.err);
    const QStringList said = r.err.split('\r').last().split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(said.isEmpty());
    EXPECT_EQ(said.last(), "write: 3 items, 2 good, 1 failed");

    r = cli(korvan1 + QStringList{"--quiet", "--progress", "read", "--table", table()});
    EXPECT_EQ(
        r.err,
        "pmx31570a-cli: 0005h: No response. Check the wiring and communication conditions.\n");
}
