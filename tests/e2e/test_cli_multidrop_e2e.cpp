// The command line over one line of several virtual instruments (one instrument program
// answering several numbers, each with its own memory), as on an RS-485 line.
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;
using test::CliRun;

namespace {

class MultiDropCli : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    CliRun cli(const QStringList& args) { return test::runCli(dir.path(), args); }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    // The instruments' own memories: mem-N.txt for instrument N.
    void memories(const QList<QPair<int, QString>>& contents) {
        for (const auto& [n, lines] : contents)
            test::writeValuesFile(path(QStringLiteral("mem-%1.txt").arg(n)), lines);
    }
    QStringList summary(const CliRun& r) const {
        return r.err.split('\n').filter(QRegularExpression("^instrument "));
    }
};

} // namespace

TEST_F(MultiDropCli, EachInstrumentItsOwnValuesFileAndStatusTheWorstForOneAbsent) {
    memories({{1, "0001=11\n"}, {3, "0001=33\n"}, {5, "0001=55\n"}, {6, "0001=66\n"}});
    ASSERT_TRUE(
        sim.start({"--protocol", "rtu", "--instrument", "1,3,5-6", "--values", path("mem-%n.txt")}))
        << qPrintable(sim.errorText());
    const QString in = test::writeTestTable(path("in.dat"));
    const QStringList line = {"--port",     sim.devicePath(), "--protocol",
                              "Modbus RTU", "--timeout",      "100"};
    // 4 is not on the line: its run fails, the others are good.
    const CliRun r = cli(line + QStringList{"--instrument", "1,3-6", "read", "--table", in, "--out",
                                            path("out-%n.dat"), "--trace-file", path("trace.txt")});
    EXPECT_EQ(r.code, 1) << qPrintable(r.err);
    EXPECT_EQ(summary(r),
              (QStringList{"instrument 1: exit 0", "instrument 3: exit 0", "instrument 4: exit 1",
                           "instrument 5: exit 0", "instrument 6: exit 0"}));
    EXPECT_EQ(r.out.split('\n').filter("\tItem 1\t"),
              (QStringList{"0001\tItem 1\t11", "0001\tItem 1\t33",
                           "0001\tItem 1\tCommunication error/Negative acknowledgement has "
                           "occurred.",
                           "0001\tItem 1\t55", "0001\tItem 1\t66"}))
        << "what was read, in the order of the list; the reason for 4";
    EXPECT_EQ(r.out.count("\tItem 68\t6799\n"), 4);
    for (int n : {1, 3, 5, 6}) {
        ItemTable back;
        ASSERT_TRUE(loadTableFile(path(QStringLiteral("out-%1.dat").arg(n)), back,
                                  TableReadMode::AllOrNothing)
                        .ok)
            << n;
        EXPECT_EQ(back.values[1], n * 11) << n;
    }
    // One trace for the line: every instrument's three reads, none lost to the next run.
    QFile trace(path("trace.txt"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(trace.readAll()).count(" rtu R 0001h "), 5);
    // Nobody answered for 4; the others each saw their own reads.
    const QStringList log = sim.logLines();
    for (const char* n : {"1", "3", "5", "6"})
        EXPECT_EQ(log.filter(QStringLiteral("rtu@%1 R ").arg(n)).size(), 3) << n;
    EXPECT_EQ(log.filter("ignored (address 04)").size(), 3);
}

TEST_F(MultiDropCli, CompareAndWriteOnlyChangedPerInstrument) {
    // 1 holds what the file says; 3 differs in 0001h and clamps 0005h to 0..100.
    memories({{1, "0001=-99\n0005=-95\n0044=-32\n"}, {3, "0001=7\n0005=-95\n0044=-32\n"}});
    ASSERT_TRUE(sim.start({"--protocol", "korvan", "--instrument", "1,3", "--values",
                           path("mem-%n.txt"), "--fault", "0005=clamp:0:100"}))
        << qPrintable(sim.errorText());
    const QString in = test::writeTestTable(path("in.dat"));
    const QStringList line = {"--port", sim.devicePath(), "--protocol",
                              "KORVAN", "--instrument",   "1,3"};

    CliRun r = cli(line + QStringList{"compare", "--table", in});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(summary(r), (QStringList{"instrument 1: exit 0", "instrument 3: exit 4"}));
    EXPECT_EQ(r.out, "0001\tItem 1\t-99\t7\n") << "only instrument 3 differs";

    r = cli(line + QStringList{"write", "--table", in, "--only-changed", "--verify"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(summary(r), (QStringList{"instrument 1: exit 0", "instrument 3: exit 0"}));
    const QStringList writes = sim.logLines().filter(" W ");
    ASSERT_EQ(writes.size(), 1);
    EXPECT_TRUE(writes[0].startsWith("korvan@3 W 0001 FF9D -> ACK")) << qPrintable(writes[0]);
    EXPECT_EQ(cli(line + QStringList{"compare", "--table", in}).code, 0);

    // A value one instrument does not keep: that instrument's run says so.
    const QString changed = path("changed.dat");
    ItemTable t;
    ASSERT_TRUE(loadTableFile(in, t, TableReadMode::AllOrNothing).ok);
    t.values[5] = 500;
    ASSERT_TRUE(saveTableFile(changed, t));
    r = cli(line + QStringList{"write", "--table", changed, "--only-changed", "--verify",
                               "--trace-file", path("trace-%n.txt")});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(summary(r), (QStringList{"instrument 1: exit 4", "instrument 3: exit 4"}));
    EXPECT_EQ(r.err.count("0005h: wrote 500, instrument holds 100\n"), 2);
    for (int n : {1, 3}) {
        QFile trace(path(QStringLiteral("trace-%1.txt").arg(n)));
        ASSERT_TRUE(trace.open(QIODevice::ReadOnly)) << n;
        EXPECT_TRUE(trace.readAll().contains("0005h: verify mismatch (wrote 500, holds 100)\n"))
            << n;
    }
}
