// The command line finding instruments set to unusual line settings, with the real serial
// object against the virtual instrument on a pty. The window's search is the same search
// (tests/gui/test_finder_dialog.cpp).
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "model/TableFile.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// Words of a line as a shell splits them (double and single quotes).
QStringList shellWords(const QString& line) {
    QStringList words;
    static const QRegularExpression word(QStringLiteral(R"re("([^"]*)"|'([^']*)'|(\S+))re"));
    for (auto it = word.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        words << m.captured(1) + m.captured(2) + m.captured(3);
    }
    return words;
}

} // namespace

TEST(FinderE2E, CommandLineFindsAnAsciiInstrumentAt4800With2StopBitsAndTheLineReadsIt) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--protocol", "ascii", "--instrument", "17", "--line", "4800-7E2"}))
        << qPrintable(sim.errorText());
    QTemporaryDir dir;
    const test::CliRun r =
        test::runCli(dir.path(), {"find", "--port", sim.devicePath(), "--instruments", "17"});
    ASSERT_EQ(r.code, 0) << qPrintable(r.err);
    // A pty carries no parity or data bits: those are whatever was tried first.
    const QRegularExpression line(
        "^--port " + QRegularExpression::escape(sim.devicePath()) +
        R"( --protocol "Modbus ASCII" --instrument 17 --rate 4800 --data-bits [78] --parity \w+ --stop-bits 2\n$)");
    EXPECT_TRUE(line.match(r.out).hasMatch()) << qPrintable(r.out);
    EXPECT_TRUE(r.err.startsWith("find: 120 tries. If nothing answers, the search takes about "))
        << qPrintable(r.err);

    // Pasted as it is, the line reaches the instrument.
    ItemTable table;
    table.selections[68] = Selection::Selected;
    const QString in = dir.filePath("in.dat");
    ASSERT_TRUE(saveTableFile(in, table));
    const test::CliRun read =
        test::runCli(dir.path(), shellWords(r.out) + QStringList{"read", "--table", in});
    EXPECT_EQ(read.code, 0) << qPrintable(read.err);
    EXPECT_EQ(read.out, "0044\t\t6799\n");
}

TEST(FinderE2E, CommandLineSaysWhenNothingAnswersOrNothingOpens) {
    test::SimProcess sim;
    ASSERT_TRUE(sim.start({"--silent"})) << qPrintable(sim.errorText());
    QTemporaryDir dir;
    const struct {
        QStringList args;
        int code;
    } cases[] = {
        {{"--port", sim.devicePath(), "--protocol", "korvan", "--answer-wait", "20"}, 4},
        {{"--port", dir.path() + "/ttyNone", "--port", dir.path() + "/ttyGone"}, 3},
        {{"--port", "ttyUSB0"}, 2},
        {{"--instruments", "96"}, 2},
    };
    for (const auto& c : cases) {
        const test::CliRun r = test::runCli(dir.path(), QStringList{"find"} + c.args);
        EXPECT_EQ(r.code, c.code) << qPrintable(c.args.join(' ') + "\n" + r.err);
        EXPECT_TRUE(r.out.isEmpty()) << qPrintable(r.out);
    }
}
