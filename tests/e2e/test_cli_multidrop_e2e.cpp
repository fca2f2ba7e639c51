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

TEST_F(MultiDropCli, EachInstrumentInTheListsOrderWithItsOwnFilesAndTheWorstStatus) {
    memories({{1, "0001=11\n"}, {3, "0001=33\n"}, {5, "0001=55\n"}, {6, "0001=66\n"}});
    ASSERT_TRUE(
        sim.start({"--protocol", "rtu", "--instrument", "1,3,5-6", "--values", path("mem-%n.txt")}))
        << qPrintable(sim.errorText());
    const QString in = test::writeTestTable(path("in.dat"));
    const QStringList line = {"--port", sim.devicePath(), "--protocol", "Modbus RTU"};
    // 4 is not on the line: its run fails, the others are good.
    CliRun r = cli(line + QStringList{"--instrument", "5-6,1,3-4", "read", "--table", in, "--out",
                                      path("out-%n.dat"), "--trace-file", path("trace.txt")});
    EXPECT_EQ(r.code, 1) << qPrintable(r.err);
    EXPECT_EQ(summary(r),
              (QStringList{"instrument 5: exit 0", "instrument 6: exit 0", "instrument 1: exit 0",
                           "instrument 3: exit 0", "instrument 4: exit 1"}));
    EXPECT_EQ(
        r.out.split('\n').filter("\tItem 1\t"),
        (QStringList{"0001\tItem 1\t55", "0001\tItem 1\t66", "0001\tItem 1\t11", "0001\tItem 1\t33",
                     "0001\tItem 1\tCommunication error/Negative acknowledgement has "
                     "occurred."}))
        << "what was read, in the order of the list; the reason for 4";
    for (int n : {1, 3, 5, 6}) {
        ItemTable back;
        const QString out = path(QStringLiteral("out-%1.dat").arg(n));
        ASSERT_TRUE(loadTableFile(out, back, TableReadMode::AllOrNothing).ok) << n;
        EXPECT_EQ(back.values[1], n * 11) << n;
    }
    // One trace for the line: every instrument's reads, none lost to the next run.
    QFile trace(path("trace.txt"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(trace.readAll()).count(" rtu R 0001h "), 5);

    // Values differ (4) and an instrument is absent (1): 1 is the worse.
    r = cli(line + QStringList{"--instrument", "1,4", "compare", "--table", in});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(summary(r), (QStringList{"instrument 1: exit 4", "instrument 4: exit 1"}));
}

TEST_F(MultiDropCli, CompareAndWriteOnlyChangedPerInstrument) {
    // 1 holds what the file says; 3 differs in 0001h; both clamp 0005h to 0..100.
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
    const QStringList writes = sim.logLines().filter(" W ");
    ASSERT_EQ(writes.size(), 1);
    EXPECT_TRUE(writes[0].startsWith("korvan@3 W 0001 FF9D -> ACK")) << qPrintable(writes[0]);

    // A value neither instrument keeps: each run says so, in its own trace.
    ItemTable changed;
    changed.selections[5] = Selection::Selected;
    changed.values[5] = 500;
    ASSERT_TRUE(saveTableFile(path("changed.dat"), changed));
    r = cli(line + QStringList{"write", "--table", path("changed.dat"), "--only-changed",
                               "--verify", "--trace-file", path("trace-%n.txt")});
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(summary(r), (QStringList{"instrument 1: exit 4", "instrument 3: exit 4"}));
    EXPECT_EQ(r.err.count("0005h: wrote 500, instrument holds 100\n"), 2);
    QFile trace(path("trace-3.txt"));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_TRUE(trace.readAll().contains("0005h: verify mismatch (wrote 500, holds 100)\n"));
}
