// The change log from the command line against the virtual instrument on a pty. Property:
// over seeded fault plans (refusals, silence, writes acknowledged but not kept, a device
// that hangs up mid-write), a write leaves one record per write sent, with its outcome; SIGKILL at
// random points of a write leaves whole records only (a torn last line is set aside, never
// dropped); the commissioning record's PDF reads right in both languages (its text layer).
#include "CliRunner.h"
#include "SimProcess.h"
#include "TestPrinters.h"
#include "comm/Conditions.h"
#include "transfer/ChangeLog.h"
#include "transfer/Sequences.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <map>

using namespace pmx;
using namespace pmx::test;

namespace {

// A table with items 1..40 selected, each holding 5000 + i (no item keeps that by default).
QString writeTable(const QString& path) {
    ItemTable t;
    t.modelName = "PMX-31570A";
    for (int i = 0; i < kItemCount; ++i)
        t.names[i] = QStringLiteral("Item %1").arg(i);
    for (int i = 1; i <= 40; ++i) {
        t.selections[i] = Selection::Selected;
        t.values[i] = qint16(5000 + i);
    }
    EXPECT_TRUE(saveTableFile(path, t));
    return path;
}

QStringList lineArgs(const SimProcess& sim) {
    return {QStringLiteral("--port"),       sim.devicePath(),
            QStringLiteral("--instrument"), QStringLiteral("1"),
            QStringLiteral("--timeout"),    QStringLiteral("100")};
}

// The items the instrument received a write request for, from its log; the tries of one
// write (sent again after no answer) are one write.
QList<int> writesReceived(const SimProcess& sim) {
    QList<int> items;
    for (const QString& line : sim.logLines())
        if (const qsizetype at = line.indexOf(QLatin1String(" W ")); at >= 0) {
            const int item = line.mid(at + 3, 4).toInt(nullptr, 16);
            if (items.isEmpty() || items.last() != item)
                items << item;
        }
    return items;
}

// One seed: an instrument with a fault plan on items 1..40 (refused with a code,
// read-only, silent, acknowledged but not kept), in half the runs hanging up at a random
// request; a write with verify and read before write on or off. What broke the promise
// (empty: nothing).
QStringList runSeed(quint32 seed) {
    QRandomGenerator dice(seed);
    const ProtocolCase& p = kProtocolCases[dice.bounded(3)];
    QStringList simArgs = {"--protocol", p.name, "--instrument", "1"};
    std::map<int, QString> faults;
    for (int i = 1; i <= 40; ++i) {
        static const char* const kinds[] = {"nak:02", "nak:04", "readonly", "silent", "ignore"};
        if (const int k = dice.bounded(12); k < 5) {
            faults[i] = QString::fromLatin1(kinds[k]);
            simArgs << "--fault" << QStringLiteral("%1=%2").arg(itemAddressText(i), faults[i]);
        }
    }
    const bool hangup = dice.bounded(2) == 0;
    if (hangup)
        simArgs << "--hangup-after" << QString::number(5 + dice.bounded(80));
    SimProcess sim;
    if (!sim.start(simArgs))
        return {sim.errorText()};
    QTemporaryDir home;
    const QString table = writeTable(home.filePath("t.dat"));
    const bool verify = dice.bounded(2) == 0;
    const bool readFirst = dice.bounded(2) == 0;
    QStringList args = lineArgs(sim)
                       << "--protocol" << cond::toTexts({.protocol = ProtocolNumber(p.no)}).protocol
                       << "write"
                       << "--table" << table;
    if (verify)
        args << "--verify";
    if (readFirst)
        args << "--read-before-write";
    const CliRun run = runCli(home.path(), args);
    QStringList broken;
    if (run.code == 5 || run.code == 2)
        return {QStringLiteral("status %1: %2").arg(run.code).arg(run.err)};
    int unreadable = -1;
    const QList<ChangeRecord> records = readChangeHistory(home.filePath("home"), &unreadable);
    const QList<int> sent = writesReceived(sim);
    if (unreadable != 0)
        broken << QStringLiteral("%1 unreadable lines").arg(unreadable);
    QList<int> recorded;
    for (const ChangeRecord& r : records)
        recorded << r.item;
    // The write the hang-up met is recorded as lost, whether or not it arrived.
    const bool lostLast = !records.isEmpty() && records.last().outcome == ChangeOutcome::Lost;
    if (lostLast && !hangup)
        broken << QStringLiteral("lost without a hang-up");
    if (recorded.mid(0, sent.size()) != sent ||
        (recorded.size() != sent.size() && !(lostLast && recorded.size() == sent.size() + 1)))
        broken << QStringLiteral("records for %1, writes received for %2")
                      .arg(itemListText(recorded), itemListText(sent));
    for (const ChangeRecord& r : records) {
        const auto fail = [&](const QString& what) {
            broken << QStringLiteral("%1 %2h (%3, fault %4): %5")
                          .arg(QLatin1String(p.name), itemAddressText(r.item),
                               outcomeName(r.outcome), faults[r.item], what);
        };
        if (r.written != 5000 + r.item || r.transfer != records.first().transfer ||
            QFileInfo(r.tableFile).fileName() != QStringLiteral("t.dat") || r.instrument != 1)
            fail(QStringLiteral("value, transfer, table file or instrument wrong"));
        // The instrument's memory holds 100 * i - 1 until written.
        const QString fault = faults[r.item];
        const bool readable = fault.isEmpty() || fault == "ignore" || fault == "readonly";
        if (r.before ? *r.before != 100 * r.item - 1 || r.beforeFrom != "read before write"
                     : readFirst && readable && !lostLast)
            fail(QStringLiteral("before %1").arg(r.before.value_or(-1)));
        if (r.outcome == ChangeOutcome::Lost) {
            if (&r != &records.last())
                fail(QStringLiteral("lost, but the write went on"));
            continue;
        }
        ChangeOutcome want = verify ? ChangeOutcome::Verified : ChangeOutcome::Confirmed;
        QString code;
        if (fault.startsWith("nak")) {
            want = ChangeOutcome::Refused;
            code = fault.mid(4);
        } else if (fault == "readonly") {
            want = ChangeOutcome::Refused;
            code = QStringLiteral("03");
        } else if (fault == "silent") {
            want = ChangeOutcome::NoAnswer;
        } else if (fault == "ignore" && verify) {
            want = ChangeOutcome::NotKept;
        }
        // A refusal under Modbus names only its function: after a write left unanswered
        // it cannot be told from a late answer, and is a write with no answer.
        const bool ambiguous = p.no != kProtocolKorvan && want == ChangeOutcome::Refused &&
                               r.outcome == ChangeOutcome::NoAnswer;
        // A read-back the hang-up cut short leaves the write confirmed.
        const bool cutShort =
            hangup && verify && &r == &records.last() && r.outcome == ChangeOutcome::Confirmed;
        if ((r.outcome != want || r.code != code) && !ambiguous && !cutShort)
            fail(QStringLiteral("expected %1 %2").arg(outcomeName(want), code));
        if (r.outcome == ChangeOutcome::NotKept && r.holds != 100 * r.item - 1)
            fail(QStringLiteral("holds %1").arg(r.holds.value_or(-1)));
    }
    // The loss is the run's status; otherwise failures or a value not kept.
    if (lostLast ? run.code != 3 : !QList<int>{0, 1, 3, 4}.contains(run.code))
        broken << QStringLiteral("status %1").arg(run.code);
    return broken;
}

TEST(ChangeLogE2E, EveryWriteSentHasExactlyOneRecordWithItsOutcome) {
    const quint32 seeds = qEnvironmentVariableIntValue("PMX_CHANGE_SEEDS") > 0
                              ? quint32(qEnvironmentVariableIntValue("PMX_CHANGE_SEEDS"))
                              : 8;
    for (quint32 seed = 1; seed <= seeds; ++seed) {
        const QStringList broken = runSeed(seed);
        ASSERT_TRUE(broken.isEmpty()) << "seed " << seed << ":\n"
                                      << broken.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(ChangeLogE2E, ALogThatCannotBeWrittenIsOneLineAndStatus5BeforeAnythingIsSent) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--instrument", "1"})) << sim.errorText().toStdString();
    QTemporaryDir home;
    const QString table = writeTable(home.filePath("t.dat"));
    // The log's name is taken by a folder.
    ASSERT_TRUE(QDir().mkpath(home.filePath("home/changes.jsonl")));
    const CliRun run = runCli(home.path(), lineArgs(sim) << "write"
                                                         << "--table" << table);
    EXPECT_EQ(run.code, 5);
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("changes.jsonl"))) << run.err.toStdString();
    EXPECT_TRUE(writesReceived(sim).isEmpty());
}

// SIGKILL at random points of 100 writes: whole records only. The kill time is drawn at
// random over the length of one write; what is checked does not depend on it.
TEST(ChangeLogE2E, KilledAtRandomPointsLeavesWholeRecordsOnly) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--instrument", "1"})) << sim.errorText().toStdString();
    QTemporaryDir home;
    const QString table = writeTable(home.filePath("t.dat"));
    const QString folder = home.filePath("home");
    // One whole write first: how long one takes bounds the kill times.
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(runCli(home.path(), lineArgs(sim) << "write"
                                                << "--table" << table)
                  .code,
              0);
    const qint64 oneWriteMs = std::max<qint64>(clock.elapsed(), 50);
    int killed = 0, torn = 0;
    const int runs = qEnvironmentVariableIntValue("PMX_KILL_RUNS") > 0
                         ? qEnvironmentVariableIntValue("PMX_KILL_RUNS")
                         : 100;
    for (int n = 0; n < runs; ++n) {
        auto p = startCli(home.path(), lineArgs(sim) << "write"
                                                     << "--table" << table);
        ASSERT_TRUE(p->waitForStarted(10000));
        QThread::msleep(QRandomGenerator::global()->bounded(quint32(oneWriteMs)));
        if (p->state() == QProcess::Running) {
            ::kill(pid_t(p->processId()), SIGKILL);
            ++killed;
        }
        ASSERT_TRUE(p->waitForFinished(60000)) << "hang guard";
        // The next run sets a torn line aside before it appends; here the log is checked
        // as the kill left it.
        QFile log(QDir(folder).filePath("changes.jsonl"));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray all = log.readAll();
        const QList<QByteArray> lines = all.split('\n');
        for (qsizetype k = 0; k + 1 < lines.size(); ++k)
            ASSERT_TRUE(ChangeRecord::fromJson(lines[k]).has_value())
                << "run " << n << ", line " << k << ": " << lines[k].toStdString();
        if (!lines.last().isEmpty()) {
            ++torn;
            ChangeLog recovering(folder);
            EXPECT_FALSE(recovering.recover().isEmpty()) << "the operator is told";
        }
    }
    int unreadable = -1;
    const QList<ChangeRecord> records = readChangeHistory(folder, &unreadable);
    EXPECT_EQ(unreadable, 0);
    std::printf("kill test: %d runs, %d killed mid-run, %d torn last lines set aside, %lld "
                "whole records\n",
                runs, killed, torn, static_cast<long long>(records.size()));
    EXPECT_GT(killed, 0);
}

TEST(ChangeLogE2E, TheCommissioningRecordPdfReadsRightInBothLanguages) {
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext is not installed";
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--instrument", "1", "--fault", "0005=nak:02"}))
        << sim.errorText().toStdString();
    QTemporaryDir home;
    const QString table = writeTable(home.filePath("t.dat"));
    ASSERT_EQ(runCli(home.path(), lineArgs(sim) << "write"
                                                << "--table" << table)
                  .code,
              1);
    for (const char* lang : {"en", "ja"}) {
        const QString pdf = home.filePath(QStringLiteral("record-%1.pdf").arg(lang));
        const CliRun run =
            runCli(home.path(), {"history", "--lang", lang, "--instrument", "1", "--pdf", pdf});
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        ASSERT_TRUE(text.waitForFinished(60000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        const strings::Lang l =
            QLatin1String(lang) == "ja" ? strings::Lang::Japanese : strings::Lang::English;
        for (const QString& want :
             {strings::text(TextId::CommissioningTitle, l), strings::text(TextId::HistoryUser, l),
              strings::text(TextId::CommissioningTableFile, l), QStringLiteral("t.dat"),
              QStringLiteral("0005h"), QStringLiteral("0028h"), QStringLiteral("5040"),
              strings::text(TextId::OutcomeRefusedCode, l).arg(QStringLiteral("02")),
              strings::text(TextId::OutcomeConfirmed, l)})
            EXPECT_TRUE(out.contains(want)) << lang << ": " << want.toStdString() << "\n"
                                            << out.toStdString();
    }
}

} // namespace
