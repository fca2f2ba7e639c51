// The command line at its edges, against the virtual instrument: stop signals at any
// moment of a run, an output nobody reads any more, a client killed in the middle of a
// read, and every file it writes under a file-size limit. A failing seed is printed;
// PMX_TEST_SEED=N replays it.
#include "CliRunner.h"
#include "SimProcess.h"
#include "comm/PortLock.h"
#include "model/AtomicFile.h"
#include "model/TableFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace pmx;

namespace {

using test::CliRun;

constexpr int kHangGuardMs = 60000;
constexpr int kItems = 40; // selected: 0000h..0027h

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

quint32 seedOfRun() {
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("PMX_TEST_SEED").toUInt(&ok);
    return ok ? seed : 20261207u;
}

class CliEdges : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    // A KORVAN instrument 1 paced at 4800 bit/s: a read of kItems takes a few seconds.
    void startSim() {
        ASSERT_TRUE(sim.start({"--protocol", "korvan", "--instrument", "1", "--baud", "4800"}))
            << sim.errorText().toStdString();
    }
    QStringList line(const QStringList& command) const {
        return QStringList{"--port", sim.devicePath(), "--protocol",
                           "KORVAN", "--instrument",   "1"} +
               command;
    }
    QString table() {
        ItemTable t;
        for (int i = 0; i < kItemCount; ++i)
            t.names[i] = QStringLiteral("Item %1").arg(i);
        for (int i = 0; i < kItems; ++i)
            t.selections[i] = Selection::Selected;
        const QString path = dir.filePath("in.dat");
        EXPECT_TRUE(saveTableFile(path, t));
        return path;
    }
    std::unique_ptr<QProcess> start(const QStringList& args,
                                    const std::function<void()>& inChild = {}) {
        auto p = test::startCli(dir.path(), args, inChild);
        EXPECT_TRUE(p->waitForStarted(kHangGuardMs));
        return p;
    }
    // Waits (hang guard only) until the instrument has heard `count` requests since
    // `from` log lines, or the program ended.
    qsizetype waitForRequests(QProcess& p, qsizetype from, qsizetype count) {
        QDeadlineTimer guard(kHangGuardMs);
        while (!guard.hasExpired()) {
            const qsizetype heard = sim.logLines().size() - from;
            if (heard >= count || p.state() == QProcess::NotRunning)
                return heard;
            p.waitForFinished(5);
        }
        ADD_FAILURE() << "hang guard";
        return -1;
    }
    // Each line of a read's output names an item and the value the instrument holds
    // (100 * i - 1 in its default memory), or nothing at all.
    static void expectOnlyTheInstrumentsValues(const QString& out) {
        for (const QString& l : out.split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = l.split('\t');
            ASSERT_EQ(f.size(), 3) << l.toStdString();
            const int i = f[0].toInt(nullptr, 16);
            EXPECT_EQ(f[2], QString::number(100 * i - 1)) << l.toStdString();
        }
    }
};

} // namespace

// SIGINT or SIGTERM at a random moment of a read (before the port opens, between or
// during exchanges, after the last), once or twice: the run ends before its next
// exchange with 130 or 143, prints only what it read, and never touches --out; or it
// had already ended, with the whole file written.
TEST_F(CliEdges, StopSignalsEndARunWithinOneExchangeAndNeverTearTheOutFile) {
    const quint32 seed = seedOfRun();
    SCOPED_TRACE(testing::Message() << "PMX_TEST_SEED=" << seed);
    QRandomGenerator random(seed);
    startSim();
    const QString in = table();
    const QString out = dir.filePath("out.dat");
    const QByteArray old = "an old data file\r\n";
    for (int run = 0; run < 8; ++run) {
        const int signal = run % 2 == 0 ? SIGINT : SIGTERM;
        const bool twice = run >= 6;
        const int after = random.bounded(kItems + 2); // requests heard before the signal
        SCOPED_TRACE(testing::Message() << "run " << run << ", signal " << signal
                                        << (twice ? " twice" : "") << " after " << after);
        writeBytes(out, old);
        const qsizetype from = sim.logLines().size();
        auto p = start(line({"read", "--table", in, "--out", out}));
        waitForRequests(*p, from, after);
        // Not yet reaped while it runs, so the number is still its own.
        if (p->state() == QProcess::Running) {
            ::kill(pid_t(p->processId()), signal);
            if (twice)
                ::kill(pid_t(p->processId()), signal);
        }
        const qsizetype atSignal = sim.logLines().size() - from;
        const CliRun r = test::finishCli(*p);
        const qsizetype heard = sim.logLines().size() - from;
        expectOnlyTheInstrumentsValues(r.out);
        if (r.code == 0) { // it had ended: the whole table
            EXPECT_EQ(heard, kItems);
            ItemTable back;
            ASSERT_TRUE(loadTableFile(out, back, TableReadMode::AllOrNothing).ok);
            EXPECT_EQ(back.values[kItems - 1], 100 * (kItems - 1) - 1);
            continue;
        }
        EXPECT_EQ(r.code, 128 + signal) << r.err.toStdString();
        EXPECT_LE(heard, atSignal + 1) << "at most the exchange under way";
        EXPECT_EQ(readAll(out), old) << "--out is not written by an interrupted run";
        // Every answer taken is printed; a second signal may end the last exchange unseen.
        EXPECT_LE(r.out.count('\n'), heard);
        EXPECT_GE(r.out.count('\n'), heard - (twice ? 1 : 0));
        if (atSignal > 0 && !twice) {
            // Its handler was in place: the summary says what was done.
            if (heard < kItems) {
                EXPECT_TRUE(r.err.contains(QStringLiteral(" not read ("))) << r.err.toStdString();
            }
            EXPECT_TRUE(r.err.endsWith(
                QStringLiteral(
                    "not written: %1 (the read was interrupted; the file is as it was)\n")
                    .arg(out)))
                << r.err.toStdString();
        }
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_FALSE(isTemporaryOf("out.dat", name)) << name.toStdString();
    }
}

// `read | head -1` and a reader that is gone before the start: the run ends before its
// next exchange, without a word, as a program a closed pipe ends (141).
TEST_F(CliEdges, AClosedOutputEndsTheRunQuietlyAtOnce) {
    startSim();
    const QString in = table();
    for (bool readOneLine : {false, true}) {
        SCOPED_TRACE(readOneLine ? "head -1" : "no reader");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const qsizetype from = sim.logLines().size();
        auto p = start(line({"read", "--table", in}), [fds] {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
        });
        ::close(fds[1]);
        QByteArray first;
        if (readOneLine) {
            QDeadlineTimer guard(kHangGuardMs);
            char c = 0;
            while (c != '\n' && !guard.hasExpired()) {
                pollfd pf{fds[0], POLLIN, 0};
                if (::poll(&pf, 1, 100) == 1 && ::read(fds[0], &c, 1) == 1)
                    first += c;
            }
        }
        ::close(fds[0]);
        const qsizetype atClose = sim.logLines().size() - from;
        const CliRun r = test::finishCli(*p);
        const qsizetype heard = sim.logLines().size() - from;
        EXPECT_EQ(r.code, 128 + SIGPIPE);
        EXPECT_EQ(r.err, QString()) << "quietly";
        EXPECT_LE(heard, atClose + 1) << "at most the exchange under way";
        EXPECT_LT(heard, kItems);
        if (readOneLine) {
            EXPECT_EQ(first, "0000\tItem 0\t-1\n");
        } else {
            EXPECT_EQ(heard, 0);
        }
    }
}

// A client killed in the middle of a read leaves its lock file and the pty's settings as
// they were; the next start opens the port at 7E1 all the same. An empty lock file does
// not keep the port either; a client that really holds it is named.
TEST_F(CliEdges, NothingAKilledClientLeftKeepsThePortOnlyALivingOneDoes) {
    startSim();
    const QString in = table();
    const qsizetype from = sim.logLines().size();
    auto killed = start(line({"read", "--table", in}));
    waitForRequests(*killed, from, 1);
    killed->kill();
    ASSERT_TRUE(killed->waitForFinished(kHangGuardMs));
    CliRun r = test::runCli(dir.path(), line({"read", "--table", in}));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), kItems);

    const QString lock = portLockFilePath(sim.devicePath());
    if (!lock.isEmpty()) {
        writeBytes(lock, {});
        r = test::runCli(dir.path(), line({"read", "--table", in}));
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(lock));
    }

    const qsizetype before = sim.logLines().size();
    auto holder = start(line({"read", "--table", in}));
    waitForRequests(*holder, before, 1);
    r = test::runCli(dir.path(), line({"conditions"}));
    if (holder->state() == QProcess::Running) { // still holding the port when asked
        EXPECT_EQ(r.code, 3);
        EXPECT_TRUE(r.err.endsWith(QStringLiteral("%1 is in use by pmx31570a-cli (pid %2)\n")
                                       .arg(sim.devicePath())
                                       .arg(holder->processId())))
            << r.err.toStdString();
    }
    if (holder->state() == QProcess::Running)
        ::kill(pid_t(holder->processId()), SIGINT);
    const int code = test::finishCli(*holder).code;
    EXPECT_TRUE(code == 0 || code == 130) << code;
}

// --out, --trace-file, export-csv and report under a file-size limit too small for what
// they write: the old file stays byte for byte and the reason is the system's.
TEST_F(CliEdges, EveryFileItWritesIsWholeOrUntouchedUnderASizeLimit) {
    startSim();
    const QString in = table();
    const auto limited = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &small);
    };
    const QByteArray old = "old\r\n";
    const struct {
        const char* file;
        QStringList args;
    } cases[] = {
        {"out.dat", line({"--quiet", "read", "--table", in, "--out", dir.filePath("out.dat")})},
        {"trace.txt",
         line({"--quiet", "read", "--table", in, "--trace-file", dir.filePath("trace.txt")})},
        {"list.csv", {"export-csv", "--table", in, dir.filePath("list.csv")}},
        {"list.pdf", {"report", "--table", in, "--pdf", dir.filePath("list.pdf")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(QLatin1String(c.file));
        writeBytes(path, old);
        const CliRun r = test::runCli(dir.path(), c.args, limited);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.contains(QStringLiteral("pmx31570a-cli: cannot write %1: ").arg(path)));
        EXPECT_TRUE(r.err.contains(QLatin1String("larger than this system allows")))
            << r.err.toStdString();
        EXPECT_EQ(readAll(path), old);
    }
}
