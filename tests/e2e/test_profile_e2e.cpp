// The instrument profile on the command line against a virtual instrument whose live items
// move: with the profile `write && compare` succeeds, without it nothing differs from the
// plain program; a broken profile stops the run before the line is used; `watch` prints
// its rounds.
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "model/TableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

const QString kProfile = QStringLiteral(PMX_SOURCE_DIR "/resources/models/model-pmx31570a.profile");

class ProfileCli : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    void SetUp() override {
        // Measured value, peak hold: moving; the instrument's status is never written.
        ASSERT_TRUE(sim.start({"--protocol", GetParam().name, "--instrument", "4", "--live",
                               "0001:sine:2:300", "--live", "0003:ramp:3:100"}))
            << qPrintable(sim.errorText());
        ItemTable t;
        t.modelName = QStringLiteral("PMX-31570A");
        for (int i : {0, 1, 2, 3, 5, 0x10, 0x23, 0x44}) {
            t.selections[i] = Selection::Selected;
            t.values[i] = qint16(12345 + i); // nowhere near what the instrument holds
        }
        // Not what the instrument holds: the status is neither written nor compared.
        t.values[0] = 7;
        ASSERT_TRUE(saveTableFile(table(), t));
    }
    QString table() const { return dir.filePath(QStringLiteral("in.dat")); }
    QStringList line(const QStringList& command) const {
        const QString protocol =
            cond::toTexts({.protocol = ProtocolNumber(GetParam().no)}).protocol;
        return QStringList{"--port", sim.devicePath(), "--protocol", protocol, "-a", "4"} + command;
    }
    test::CliRun cli(const QStringList& args) { return test::runCli(dir.path(), args); }
    QString profilesFolder() const { return dir.filePath(QStringLiteral("home/profiles")); }
};

} // namespace

TEST_P(ProfileCli, WriteThenCompareSucceedsWithTheProfileAndNotWithout) {
    const test::CliRun write = cli(line({"write", "--table", table(), "--profile", kProfile}));
    EXPECT_EQ(write.code, 0) << qPrintable(write.err);
    // 0000h is never written anyway; 0001h, 0002h, 0003h and 0005h are live.
    EXPECT_TRUE(write.err.contains("write: 3 items, 3 good, 0 failed; 4 live or read-only items "
                                   "not written"))
        << qPrintable(write.err);
    const test::CliRun compare = cli(line({"compare", "--table", table(), "--profile", kProfile}));
    EXPECT_EQ(compare.code, 0) << qPrintable(compare.out + compare.err);
    EXPECT_TRUE(compare.err.contains("0 of 3 items differ; 0 could not be read; 5 live or "
                                     "read-only items not compared"))
        << qPrintable(compare.err);

    // Asked to, or without a profile, the live and status items are compared as always.
    const test::CliRun withLive =
        cli(line({"compare", "--table", table(), "--profile", kProfile, "--include-live"}));
    EXPECT_EQ(withLive.code, 4);
    const test::CliRun plain = cli(line({"compare", "--table", table()}));
    EXPECT_EQ(plain.code, 4);
    EXPECT_EQ(plain.err, "5 of 8 items differ; 0 could not be read\n");
    EXPECT_FALSE(plain.out.contains("0010"));
}

TEST_P(ProfileCli, FoundByModelNameAndRefusedWholeWhenBroken) {
    ASSERT_TRUE(QDir().mkpath(profilesFolder()));
    const QString found = profilesFolder() + "/PMX-31570A.profile";
    ASSERT_TRUE(QFile::copy(kProfile, found));
    // What the shipped profile would do, named by the model definition beside it.
    const test::CliRun good = cli({"profile", "check", kProfile});
    EXPECT_EQ(good.code, 0);
    EXPECT_TRUE(good.out.contains("\n0001\tMeasured value\tlive\t")) << qPrintable(good.out);
    const test::CliRun used = cli(line({"compare", "--table", table()}));
    EXPECT_EQ(used.code, 4); // nothing was written
    EXPECT_TRUE(used.err.startsWith("Profile: " + found + "\n")) << qPrintable(used.err);
    EXPECT_TRUE(used.err.contains("5 live or read-only items not compared"));
    EXPECT_EQ(cli(line({"compare", "--table", table(), "--no-profile"})).err,
              "8 of 8 items differ; 0 could not be read\n");

    // One bad line, far down: nothing of the file is used and the line is not touched.
    QFile f(found);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("\n[0060]\nmax=ten\n");
    f.close();
    const int before = int(sim.logLines().size());
    for (const char* command : {"write", "compare"}) {
        const test::CliRun refused = cli(line({command, "--table", table()}));
        EXPECT_EQ(refused.code, 2) << command;
        EXPECT_TRUE(refused.err.startsWith("pmx31570a-cli: Profile " + found + " not used: line "))
            << qPrintable(refused.err);
        EXPECT_TRUE(refused.err.contains("\"ten\" is not a whole number"));
    }
    EXPECT_EQ(sim.logLines().size(), before);
    const test::CliRun check = cli({"profile", "check", found});
    EXPECT_EQ(check.code, 2);
    EXPECT_EQ(check.out, "");
}

TEST_P(ProfileCli, WatchPrintsOneLinePerRoundOfTheLiveItems) {
    const test::CliRun r = cli(line({"watch", "--table", table(), "--profile", kProfile, "--count",
                                     "3", "--interval", "100", "--json"}));
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(lines[k].startsWith(QStringLiteral("{\"round\":%1,").arg(k + 1)));
        for (const char* item : {"\"0001\":", "\"0002\":", "\"0003\":", "\"0005\":"})
            EXPECT_TRUE(lines[k].contains(item)) << qPrintable(lines[k]);
        EXPECT_FALSE(lines[k].contains("null"));
        EXPECT_FALSE(lines[k].contains("\"0010\""));
    }
    // Without a profile nothing is live.
    EXPECT_EQ(cli(line({"watch", "--table", table(), "--count", "1"})).code, 2);
}

INSTANTIATE_TEST_SUITE_P(, ProfileCli, test::allProtocols(), ::testing::PrintToStringParamName());
