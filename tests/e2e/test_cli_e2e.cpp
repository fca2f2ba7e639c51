// The command-line front end against the virtual instrument: output and exit statuses.
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "model/TableFile.h"
#include "pmx_version.h"
#include "report/CsvExport.h"
#include "report/ListData.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

using test::CliRun;

class Cli : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    CliRun cli(const QStringList& args) { return test::runCli(dir.path(), args); }

    QString table() { return test::writeTestTable(dir.path() + "/in.dat"); }

    // Both spellings of an option's value.
    QStringList conn(const char* protocol) {
        return {"--port=" + sim.devicePath(), "--protocol", protocol, "--instrument=4"};
    }
};

} // namespace

TEST_F(Cli, ReadPrintsSelectedItemsAndWritesTheUpdatedTable) {
    ASSERT_TRUE(sim.start({"--protocol", "ascii", "--instrument", "4"}))
        << qPrintable(sim.errorText());
    const QString in = table();
    const QString outPath = dir.path() + "/out.dat";
    const CliRun r =
        cli(conn("Modbus ASCII") + QStringList{"read", "--table", in, "--out", outPath, "--hex"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    // The instrument's default memory holds 100 * i - 1.
    EXPECT_EQ(r.out, "0001\tItem 1\t63h\n0005\tItem 5\t1F3h\n0044\tItem 68\t1A8Fh\n");
    ItemTable back;
    ASSERT_TRUE(loadTableFile(outPath, back, TableReadMode::AllOrNothing).ok);
    EXPECT_EQ(back.values[68], 6799);
    EXPECT_EQ(back.values[2], 0);
}

TEST_F(Cli, WriteFollowsTheProgramsOrderAndReportsFailedItems) {
    ASSERT_TRUE(sim.start({"--protocol", "korvan", "--instrument", "4", "--fault", "0005=nak"}));
    const CliRun r = cli(conn("KORVAN") + QStringList{"write", "--table", table()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "0005 Negative acknowledgement. Check the sending data.\n"
                     "write: 3 items, 2 good, 1 failed\n");
    const QStringList writes = sim.logLines().filter(" W ");
    ASSERT_EQ(writes.size(), 3);
    EXPECT_TRUE(writes[0].startsWith("korvan W 0044 FFE0")) << qPrintable(writes[0]);
    EXPECT_TRUE(writes[1].startsWith("korvan W 0001 FF9D"));
    EXPECT_TRUE(writes[2].startsWith("korvan W 0005"));
}

TEST_F(Cli, LostDeviceEndsTheRunAtOnceWithOneLineAndStatus3) {
    for (const char* protocol : {"korvan", "rtu"}) {
        ASSERT_TRUE(
            sim.start({"--protocol", protocol, "--instrument", "4", "--hangup-after", "2"}));
        // All 128 items selected: without noticing the loss, each would fail in turn.
        ItemTable t;
        t.selections.fill(Selection::Selected);
        const QString in = dir.path() + "/all.dat";
        ASSERT_TRUE(saveTableFile(in, t));
        const QString outPath = dir.path() + "/lost.dat";
        const CliRun r = cli(conn(protocol == QLatin1String("korvan") ? "KORVAN" : "Modbus RTU") +
                             QStringList{"read", "--table", in, "--out", outPath});
        EXPECT_EQ(r.code, 3) << protocol;
        EXPECT_EQ(r.err, QStringLiteral("Connection to %1 lost.\nread: 2 items, 2 good, 0 failed, "
                                        "device lost\n")
                             .arg(sim.devicePath()));
        EXPECT_FALSE(QFile::exists(outPath)) << "a partial table is not saved";
        sim.kill();
    }
}

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
    EXPECT_EQ(r.err, "3 written as broadcast, not confirmed.\n"
                     "write: 3 items, 0 good, 0 failed, 3 not confirmed\n");
    // Nothing answers a broadcast, so the instrument may log the last one after the run ends.
    const auto broadcasts = [this] { return sim.logLines().filter("(broadcast)").size(); };
    for (QDeadlineTimer hangGuard(10000); broadcasts() < 3 && !hangGuard.hasExpired();)
        QThread::msleep(10);
    EXPECT_EQ(broadcasts(), 3);
    // The instrument carried the writes out.
    r = cli({"--port", sim.devicePath(), "--protocol", "Modbus ASCII", "--instrument", "1", "read",
             "--table", table()});
    EXPECT_EQ(r.out, "0001\tItem 1\t-99\n0005\tItem 5\t-95\n0044\tItem 68\t-32\n");
}

TEST_F(Cli, CompareWriteOnlyChangedAndVerifyOverEveryProtocol) {
    const struct {
        const char* sim;
        const char* name;
    } protocols[] = {{"korvan", "KORVAN"}, {"ascii", "Modbus ASCII"}, {"rtu", "Modbus RTU"}};
    for (const auto& p : protocols) {
        SCOPED_TRACE(p.sim);
        const QString in = table(); // 0001 = -99, 0005 = -95, 0044 = -32
        const QStringList instrument = {"--protocol", p.sim, "--instrument", "4"};
        // The device path changes with every start of the instrument.
        const auto compare = [&] { return conn(p.name) + QStringList{"compare", "--table", in}; };

        // Equal: the instrument starts with the file's values.
        ASSERT_TRUE(sim.start(instrument + QStringList{"--values", in}));
        CliRun r = cli(compare());
        EXPECT_EQ(std::tuple(r.code, r.out, r.err),
                  std::tuple(0, QString(), QString("0 of 3 items differ; 0 could not be read\n")));

        // Different: the default memory (100 * i - 1); --hex as the read prints it.
        ASSERT_TRUE(sim.start(instrument));
        r = cli(compare() + QStringList{"--hex"});
        EXPECT_EQ(r.code, 4) << qPrintable(r.err);
        EXPECT_EQ(r.out, "0001\tItem 1\tFF9Dh\t63h\n0005\tItem 5\tFFA1h\t1F3h\n"
                         "0044\tItem 68\tFFE0h\t1A8Fh\n");

        // Unreadable wins over different; the reason stands in the instrument's place.
        ASSERT_TRUE(sim.start(instrument + QStringList{"--fault", "0005=nak"}));
        r = cli(compare());
        EXPECT_EQ(r.code, 1);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 3);
        EXPECT_EQ(lines[0], "0001\tItem 1\t-99\t99");
        EXPECT_TRUE(lines[1].startsWith("0005\tItem 5\t-95\t")) << qPrintable(lines[1]);
        EXPECT_FALSE(lines[1].endsWith("\t499"));
        EXPECT_TRUE(r.err.endsWith("2 of 3 items differ; 1 could not be read\n"))
            << qPrintable(r.err);

        // Only the differing item is written, after one read of each selected item.
        const QString mem =
            test::writeValuesFile(dir.path() + "/mem.txt", "0001=7\n0005=-95\n0044=-32\n");
        ASSERT_TRUE(sim.start(instrument + QStringList{"--values", mem}));
        r = cli(conn(p.name) + QStringList{"write", "--table", in, "--only-changed"});
        EXPECT_EQ(r.code, 0) << qPrintable(r.err);
        EXPECT_EQ(sim.logLines().filter(" R ").size(), 3);
        const QStringList writes = sim.logLines().filter(" W ");
        ASSERT_EQ(writes.size(), 1);
        EXPECT_TRUE(writes[0].contains(" W 0001 FF9D")) << qPrintable(writes[0]);
        EXPECT_EQ(cli(compare()).code, 0);

        // Verify: a clamped item is reported and gives status 4; without --verify it is not.
        ASSERT_TRUE(sim.start(instrument + QStringList{"--fault", "0044=clamp:0:100"}));
        r = cli(conn(p.name) + QStringList{"write", "--table", in});
        EXPECT_EQ(std::tuple(r.code, r.err),
                  std::tuple(0, QString("write: 3 items, 3 good, 0 failed\n")));
        r = cli(conn(p.name) + QStringList{"write", "--table", in, "--verify"});
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, "0044h: wrote -32, instrument holds 0\n"
                         "write: 3 items, 3 good, 0 failed, 1 not kept\n");
        sim.kill();
    }
    // The options belong to write.
    EXPECT_EQ(cli({"read", "--verify"}).code, 2);
}

TEST_F(Cli, InstrumentListRunsEachInTurnAndEndsWithTheWorstStatus) {
    ASSERT_TRUE(sim.start({"--protocol", "rtu", "--instrument", "4"}));
    const QString in = table();
    const QStringList line = {"--port",     sim.devicePath(), "--protocol",
                              "Modbus RTU", "--timeout",      "100"};
    // 4 answers; 5 and 6 are not on the line.
    CliRun r = cli(line + QStringList{"--instrument", "5-6,4", "read", "--table", in, "--out",
                                      dir.path() + "/out-%n.dat"});
    EXPECT_EQ(r.code, 1);
    const QStringList summary = r.err.split('\n').filter(QRegularExpression("^instrument "));
    EXPECT_EQ(summary, (QStringList{"instrument 5: exit 1", "instrument 6: exit 1",
                                    "instrument 4: exit 0"}));
    EXPECT_EQ(r.out.count("\tItem 68\t6799\n"), 1);
    ItemTable back;
    ASSERT_TRUE(loadTableFile(dir.path() + "/out-4.dat", back, TableReadMode::AllOrNothing).ok);
    EXPECT_EQ(back.values[68], 6799);

    // Values differ (4) and items unreadable (1): 1 is the worse.
    r = cli(line + QStringList{"--instrument", "4,7", "compare", "--table", in});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("instrument 4: exit 4")) << qPrintable(r.err);

    const struct {
        QStringList args;
    } bad[] = {{{"--instrument", "4,5", "read", "--out", dir.path() + "/one.dat"}},
               {{"--instrument", "5-3", "read"}},
               {{"--instrument", "4,,5", "read"}},
               {{"--instrument", "4,96", "read"}}};
    for (const auto& b : bad)
        EXPECT_EQ(cli(line + b.args).code, 2) << qPrintable(b.args.join(' '));
}

TEST_F(Cli, ConditionsAndUnopenablePort) {
    ASSERT_TRUE(sim.start({"--protocol", "rtu", "--instrument", "4"}));
    CliRun r = cli(conn("Modbus RTU") + QStringList{"conditions"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_TRUE(
        r.out.startsWith("Protocol: Modbus RTU\nInstrument number: 4\nTransfer rate: 9600\n"));
    EXPECT_TRUE(r.out.endsWith("Block reads (Modbus): Off\n"));
    r = cli(conn("Modbus RTU") + QStringList{"--block-read", "--block-max=40", "conditions"});
    EXPECT_TRUE(r.out.endsWith("Block reads (Modbus): On, 40 per request\n")) << qPrintable(r.out);
    r = cli({"--port", dir.path() + "/no-such-device", "conditions"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.startsWith("Communication error! Check the communication conditions.\n"));
    // Overrides are never stored.
    EXPECT_FALSE(QFile::exists(dir.path() + "/config/KORVAN DELTRIS.conf"));
}

// Block reads give what the per-item read gives, from an instrument that takes blocks and
// from one with an undefined register (0041) inside a refused span (0040 and 0041).
TEST_F(Cli, BlockReadsPrintWhatTheItemByItemReadPrints) {
    ItemTable t;
    t.modelName = "PMX-31570A";
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("Item %1").arg(i);
        t.selections[i] = i % 37 == 20 ? Selection::Cleared : Selection::Selected;
    }
    const QString in = dir.path() + "/all.dat";
    ASSERT_TRUE(saveTableFile(in, t));
    const struct {
        const char* name;
        QStringList sim;
        int code;
    } instruments[] = {
        {"accepts blocks", {"--protocol", "rtu", "--instrument", "4"}, 0},
        {"undefined register",
         {"--protocol", "ascii", "--instrument", "4", "--refuse-span", "0040", "--fault",
          "0041=nak:02", "--max-count", "50"},
         1},
    };
    for (const auto& i : instruments) {
        SCOPED_TRACE(i.name);
        ASSERT_TRUE(sim.start(i.sim)) << qPrintable(sim.errorText());
        const QStringList c = conn(i.sim[1] == "rtu" ? "Modbus RTU" : "Modbus ASCII");
        const CliRun single = cli(c + QStringList{"read", "--table", in});
        const int singleRequests = int(sim.logLines().size());
        const CliRun block = cli(c + QStringList{"--block-read", "read", "--table", in});
        const int blockRequests = int(sim.logLines().size()) - singleRequests;
        EXPECT_EQ(single.code, i.code) << qPrintable(single.err);
        EXPECT_EQ(block.code, single.code);
        EXPECT_EQ(block.out, single.out);
        EXPECT_EQ(block.err, single.err);
        EXPECT_EQ(single.out.count('\n'), 125); // every item, 0041h with its reason
        EXPECT_LT(blockRequests, 20) << "against " << singleRequests;
        EXPECT_GT(sim.logLines().filter(" n=").size(), 0);
    }
}

TEST_F(Cli, NetworkPortReadsAndARefusedOneIsStatus3WithTheReason) {
    ASSERT_TRUE(sim.start({"--protocol", "rtu", "--instrument", "4", "--tcp", "0"}))
        << qPrintable(sim.errorText());
    CliRun r = cli(conn("Modbus RTU") + QStringList{"read", "--table", table()});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, "0001\tItem 1\t99\n0005\tItem 5\t499\n0044\tItem 68\t6799\n");
    const QString address = sim.devicePath();
    sim.kill(); // nobody listens on the port now
    r = cli({"--port", address, "conditions"});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.contains("\n" + address + " could not be opened (")) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("refused", Qt::CaseInsensitive)) << qPrintable(r.err);
}

TEST_F(Cli, ArgumentsHelpAndVersion) {
    const struct {
        QStringList args;
        int code;
        const char *out, *err; // how they begin
    } cases[] = {
        {{"--version"}, 0, "pmx31570a-cli " PMX_VERSION_STRING "\n", ""},
        {{"--help"}, 0, "Usage:\n", ""},
        {{"read", "-h"}, 0, "pmx31570a-cli [OPTIONS] read [--table IN.dat]", ""},
        {{}, 2, "", "Usage:\n"},
        {{"frobnicate"}, 2, "", "error: unknown command frobnicate\n\nUsage:"},
        {{"read", "--bogus"}, 2, "", "error: unknown option 'bogus' (see --help)\n"},
        {{"conditions", "--rate"}, 2, "", "error: missing value after '--rate' (see --help)\n"},
        {{"--hex=1", "read"}, 2, "", "error: unexpected value after '--hex' (see --help)\n"},
        {{"write"}, 2, "", "error: --table IN.dat is required\n"},
        // The choices are the conditions dialog's.
        {{"--rate=1", "conditions"}, 2, "", "error: --rate must be 2400, 4800, 9600 or 19200\n"},
        {{"--parity", "mark", "conditions"}, 2, "", "error: --parity must be NONE, EVEN or ODD\n"},
        {{"--data-bits=9", "conditions"}, 2, "", "error: --data-bits must be 7 or 8\n"},
        {{"--instrument", "96", "conditions"}, 2, "", "error: --instrument must be 0..95\n"},
        {{"--timeout=99", "conditions"}, 2, "", "error: --timeout must be 100..4000 ms\n"},
        {{"--block-max=1", "read"}, 2, "", "error: --block-max must be 2..125\n"},
        {{"--block-max", "12x", "read"}, 2, "", "error: --block-max must be 2..125\n"},
        {{"--block-read=1", "read"}, 2, "", "error: unexpected value after '--block-read'"},
        {{"--protocol=tcp", "conditions"},
         2,
         "",
         "error: --protocol must be KORVAN, \"Modbus ASCII\" or \"Modbus RTU\"\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out.left(qsizetype(qstrlen(c.out))), QLatin1String(c.out));
        EXPECT_EQ(r.err.left(qsizetype(qstrlen(c.err))), QLatin1String(c.err));
        EXPECT_TRUE((*c.out ? r.err : r.out).isEmpty()) << "one stream only";
    }
    EXPECT_TRUE(
        cli({"--help"})
            .out.contains("  --rate 2400|4800|9600|19200   --data-bits 7|8   --stop-bits 1|2\n"
                          "  --parity NONE|EVEN|ODD   --timeout MS (100..4000)\n"
                          "  --port COMn|/dev/DEVICE|tcp://HOST:PORT"));
}

TEST_F(Cli, UnreadableTableIsNamedAndNothingIsWritten) {
    QFile bad(dir.path() + "/bad.dat");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\"cut short\"\r\n");
    bad.close();
    const CliRun r = cli({"export-csv", "--table", bad.fileName(), dir.path() + "/x.csv"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("bad.dat"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/x.csv"));
}

TEST_F(Cli, ExportAndReportUseTheWindowsWriters) {
    const QString in = table();
    const QString csv = dir.path() + "/list.csv";
    EXPECT_EQ(cli({"export-csv", "--table", in, "--hex", csv}).code, 0);
    EXPECT_EQ(cli({"export-csv", "--table", in, "--hex", csv}).code, 0); // appends
    ItemTable t;
    ASSERT_TRUE(loadTableFile(in, t, TableReadMode::AllOrNothing).ok);
    ListArrays lists;
    fillListArrays(t, true, lists);
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray block = csvBlock(lists, strings::Lang::English).toUtf8();
    EXPECT_EQ(f.readAll(), block + block);

    const QString pdf = dir.path() + "/list.pdf";
    const CliRun r = cli({"report", "--table", in, "--lang", "ja", "--pdf", pdf});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    QFile p(pdf); // its pages are the renderer's tests' business
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    EXPECT_TRUE(p.readAll().startsWith("%PDF"));
}

// The trace names each exchange's bytes; the progress line rewrites itself and is wiped
// before anything else is said; --quiet leaves only the errors.
TEST_F(Cli, TraceProgressAndSummaryLines) {
    ASSERT_TRUE(sim.start({"--protocol", "korvan", "--instrument", "1", "--fault", "0005=silent"}))
        << qPrintable(sim.errorText());
    const QStringList korvan1 = {"--port", sim.devicePath(), "--protocol", "KORVAN", "--instrument",
                                 "1",      "--timeout",      "100"};
    const QString traceFile = dir.path() + "/trace.txt";
    CliRun r = cli(korvan1 +
                   QStringList{"--trace", "--trace-file", traceFile, "read", "--table", table()});
    EXPECT_EQ(r.code, 1);
    const QStringList lines = r.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << qPrintable(r.err); // three exchanges, one failure, summary
    const QString item44 = lines.filter("R 0044h").value(0);
    EXPECT_TRUE(item44.contains("> 02 21 20 20 30 30 34 34 03 32 43 < 06 ")) << qPrintable(item44);
    EXPECT_TRUE(item44.contains(": good, 1 try")) << qPrintable(item44);
    EXPECT_TRUE(lines.filter("R 0005h").value(0).contains("< - : no answer"));
    EXPECT_EQ(lines.last(), "read: 3 items, 2 good, 1 failed");
    QFile f(traceFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts),
              lines.filter(" korvan "));

    r = cli(korvan1 + QStringList{"--progress", "write", "--table", table()});
    EXPECT_TRUE(r.err.startsWith("\rwrite 1/3  0044h\r")) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("\rwrite 3/3  0005h")) << qPrintable(r.err);
    // Wiped before the failure and the summary, which stand on lines of their own.
    const QStringList said = r.err.split('\r').last().split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(said.last(), "write: 3 items, 2 good, 1 failed");

    r = cli(korvan1 + QStringList{"--quiet", "--progress", "read", "--table", table()});
    EXPECT_EQ(r.err, "0005 No response. Check the wiring and communication conditions.\n");
    // The silent item's old value is not printed as if it had been read.
    EXPECT_EQ(r.out, QString("0001\tItem 1\t-99\n0005\tItem 5\tNo response. Check the wiring "
                             "and communication conditions.\n0044\tItem 68\t-32\n"));
}
