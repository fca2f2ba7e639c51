// The command line as people who script serial tools use it: the names they type, "-" for
// standard output, one-line messages in their language and nothing of the toolkit's, output
// paths checked before the instrument is asked, and JSON Lines for their scripts. A failing
// seed is printed; PMX_TEST_SEED=N replays it.
#include "CliRunner.h"
#include "SimProcess.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace pmx;

namespace {

using test::CliRun;

// As under cron or sudo, where the toolkit would warn about the session.
void bareSession(QProcessEnvironment& env) {
    env.remove("XDG_RUNTIME_DIR");
}
void japanese(QProcessEnvironment& env) {
    bareSession(env);
    env.insert("LANG", "ja_JP.UTF-8");
}

bool hasJapanese(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3000; });
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 seedOfRun() {
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("PMX_TEST_SEED").toUInt(&ok);
    return ok ? seed : 20261208u;
}

// Standard output into `fd` of the child.
std::function<void()> stdoutTo(int fd) {
    return [fd] { ::dup2(fd, STDOUT_FILENO); };
}

class Habits : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    test::SimProcess sim;

    CliRun cli(const QStringList& args, const test::EnvironmentEdit& env = bareSession,
               const std::function<void()>& inChild = {}) {
        return test::runCli(dir.path(), args, inChild, env);
    }
    // 0001 = -99, 0005 = -95 and 0044 = -32 selected.
    QString table() { return test::writeTestTable(dir.filePath("in.dat")); }
    // KORVAN instrument 4, the item 0005h refused.
    QStringList startSim() {
        EXPECT_TRUE(sim.start({"--instrument", "4", "--fault", "0005=nak"}))
            << sim.errorText().toStdString();
        return {"--port", sim.devicePath(), "-a", "4"};
    }
    // Every COMn of the run's settings opens a device that is not there: no run of a test
    // reaches a real adapter of the machine.
    void noDevices() {
        QSettingsStore store(dir.filePath("config/KORVAN DELTRIS.conf"));
        for (int n = 1; n <= 8; ++n)
            store.setValue(PortMap::kSection, QStringLiteral("COM%1").arg(n),
                           dir.filePath("ttyNone"));
    }
};

// The words of a mistake: the program's options with good and bad values, its commands,
// and what else a hand types.
const QStringList kWords = {
    "read",
    "write",
    "compare",
    "conditions",
    "ports",
    "export-csv",
    "report",
    "frobnicate",
    "--protocol",
    "rtu",
    "Modbus ASCII",
    "tcp",
    "-a",
    "4",
    "96",
    "1,3,5-9",
    "-b",
    "4800",
    "1200",
    "-d",
    "7",
    "9",
    "-s",
    "2",
    "-P",
    "even",
    "MARK",
    "--timeout",
    "99",
    "--lang",
    "ja",
    "de",
    "--table",
    "in.dat",
    "missing.dat",
    "--out",
    "-",
    "out.dat",
    "no/out.dat",
    "--pdf",
    "x.pdf",
    "--hex",
    "--json",
    "--verify",
    "--encoding",
    "latin1",
    "--block-max",
    "1",
    "--quiet",
    "-q",
    "-x",
    "-t",
    "--bogus",
    "--hex=1",
    "--rate",
    "--",
    "extra",
    "-",
    "--port",
    "ttyUSB0",
    "tcp://127.0.0.1:1",
    "COM3",
    "--trace-file",
    "-ab",
    "-h",
};

} // namespace

// Whatever mix of words, in either language and without XDG_RUNTIME_DIR: a run that fails
// says so in exactly one line, which begins with the program's name and is in the language
// of the locale; a run that succeeds says nothing on standard error.
TEST_F(Habits, EveryMistakeIsOneLineInTheUsersLanguage) {
    const quint32 seed = seedOfRun();
    SCOPED_TRACE(testing::Message() << "PMX_TEST_SEED=" << seed);
    QRandomGenerator random(seed);
    noDevices();
    table();
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path())); // in.dat, out.dat as typed
    for (int run = 0; run < 40; ++run) {
        QStringList args;
        for (int n = int(random.bounded(1, 6)); n > 0; --n)
            args << kWords[random.bounded(int(kWords.size()))];
        // The locale's language, unless the last --lang before "--" names one.
        bool inJapanese = run % 2 == 1;
        for (qsizetype k = 0; k + 1 < args.size() && args[k] != "--"; ++k) {
            if (args[k] == "--lang") {
                const QString lang = args[++k];
                inJapanese = lang == "ja" || (lang != "en" && run % 2 == 1);
            }
        }
        SCOPED_TRACE(args.join(QStringLiteral(" | ")).toStdString());
        const CliRun r = cli(args, run % 2 == 1 ? japanese : bareSession);
        if (r.code == 0) {
            EXPECT_EQ(r.err, QString());
            continue;
        }
        EXPECT_TRUE(r.code == 2 || r.code == 3) << r.code;
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("pmx31570a-cli: ")) << r.err.toStdString();
        EXPECT_EQ(hasJapanese(r.err), inJapanese) << r.err.toStdString();
    }
    QDir::setCurrent(before);
}

// The summary and the item failures follow the language as well, the locale's or --lang's.
TEST_F(Habits, TheSummaryFollowsTheLanguage) {
    const QStringList line = startSim();
    const QStringList read = line + QStringList{"read", "--table", table()};
    CliRun r = cli(read, japanese);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "pmx31570a-cli: 0005h: 否定応答。送信データ確認してください。\n"
                     "read: 3 項目、正常 2、失敗 1\n");
    r = cli(QStringList{"--lang", "en"} + read, japanese);
    EXPECT_TRUE(r.err.endsWith("\nread: 3 items, 2 good, 1 failed\n")) << r.err.toStdString();
}

// The other two programs speak in the same way; a display that is not there is one line of
// the window's, not the toolkit's advice; and no short option means what it means to the
// common serial and Modbus tools where it means something else.
TEST_F(Habits, TheOtherProgramsSpeakTheSameWay) {
    const auto run = [](const QString& program, const QStringList& args,
                        const test::EnvironmentEdit& edit) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LANG", "C.UTF-8");
        env.remove("LC_ALL");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        edit(env);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PMX_BIN_DIR "/") + program, args);
        EXPECT_TRUE(p.waitForFinished(60000)) << "hang guard";
        return CliRun{test::shellStatus(p), QString::fromUtf8(p.readAllStandardOutput()),
                      QString::fromUtf8(p.readAllStandardError())};
    };
    const auto xcb = [](QProcessEnvironment& env) { env.insert("QT_QPA_PLATFORM", "xcb"); };
    const auto xcbJapanese = [](QProcessEnvironment& env) {
        japanese(env);
        env.insert("QT_QPA_PLATFORM", "xcb");
    };
    CliRun r = run("pmx31570a", {}, xcb);
    EXPECT_EQ(std::tuple(r.code, r.err.count('\n')), std::tuple(1, 1)) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("pmx31570a: the window cannot open: ")) << r.err.toStdString();
    r = run("pmx31570a", {}, xcbJapanese);
    EXPECT_TRUE(r.err.startsWith("pmx31570a: ウィンドウを開けません: ")) << r.err.toStdString();

    for (const char* letter : {"-t", "-r", "-c", "-m", "-p", "-o"}) {
        SCOPED_TRACE(letter);
        r = cli({letter, "1", "ports"});
        EXPECT_EQ(std::tuple(r.code, r.err),
                  std::tuple(2, QStringLiteral("pmx31570a-cli: unknown option '%1' (see --help)\n")
                                    .arg(letter)));
        r = run("pmx31570a-sim", {letter, "1"}, bareSession);
        EXPECT_EQ(std::tuple(r.code, r.err),
                  std::tuple(2, QStringLiteral("pmx31570a-sim: unknown option '%1' (see --help)\n")
                                    .arg(letter)));
    }
    r = run("pmx31570a-sim", {"--log", dir.filePath("no/sim.log")}, bareSession);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith("pmx31570a-sim: cannot open log ")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
}

// The short options and the names people type reach the instrument on both sides: a line
// at 4800 bit/s with 2 stop bits is understood at those settings and not at 1 stop bit.
TEST_F(Habits, TheNamesAndShortOptionsPeopleType) {
    ASSERT_TRUE(sim.start({"--protocol", "Modbus RTU", "-a", "4", "-b", "4800", "-s", "2"}))
        << sim.errorText().toStdString();
    const QString in = table();
    const QStringList line{"--port", sim.devicePath(), "-a4", "-b", "4800", "-d", "8", "-P",
                           "none"};
    CliRun r = cli(line + QStringList{"--protocol", "modbus rtu", "-s2", "read", "--table", in});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0001\tItem 1\t99\n0005\tItem 5\t499\n0044\tItem 68\t6799\n");
    r = cli(line + QStringList{"--protocol", "rtu", "-qs", "1", "read", "--table", in});
    EXPECT_EQ(r.code, 1) << "1 stop bit is another line";
    // Each spelling of the three protocols, in any case, is the protocol the conditions store.
    const struct {
        const char* typed;
        const char* stored;
    } names[] = {{"korvan", "KORVAN"},      {"Korvan", "KORVAN"},
                 {"ascii", "Modbus ASCII"}, {"MODBUS ascii", "Modbus ASCII"},
                 {"RTU", "Modbus RTU"},     {"Modbus RTU", "Modbus RTU"}};
    for (const auto& n : names) {
        r = cli({"--port", sim.devicePath(), "--protocol", n.typed, "conditions"});
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Protocol: %1\n").arg(n.stored)))
            << n.typed << ": " << r.out.toStdString() << r.err.toStdString();
    }
}

// The folder of --out and --trace-file is checked before the instrument hears anything, and
// the error gives the system's reason; so does a standard output on a full disk.
TEST_F(Habits, OutputsAreCheckedBeforeTheInstrumentIsAsked) {
    const QStringList line = startSim();
    const QString in = table();
    // A folder nobody but its owner may write, for a user that is not root.
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    QFile::setPermissions(in, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                      QFileDevice::ReadOther | QFileDevice::ExeOther);
    const auto notRoot = [] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
    };
    const struct {
        QStringList args;
        QString line; // after "pmx31570a-cli: "
    } cases[] = {
        {{"--out", dir.filePath("no/out.dat")},
         "cannot write " + dir.filePath("no/out.dat") + ": no such file or folder"},
        {{"--trace-file", dir.filePath("no/t.txt")},
         "cannot write " + dir.filePath("no/t.txt") + ": no such file or folder"},
        {{"--out", dir.path()},
         "cannot write " + dir.path() + ": a folder of that name is in the way"},
        {{"--out", "-"},
         "--out needs a file: only export-csv and report --pdf write to standard "
         "output (-)"},
        {{"--out", locked + "/out.dat"}, "cannot write " + locked + "/out.dat: permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r =
            cli(line + QStringList{"read", "--table", in} + c.args, bareSession,
                c.line.endsWith("permission denied") ? notRoot : std::function<void()>());
        EXPECT_EQ(std::tuple(r.code, r.err), std::tuple(2, "pmx31570a-cli: " + c.line + "\n"));
        EXPECT_EQ(sim.logLines(), QStringList()) << "the instrument is not asked";
    }

    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const QStringList toFull[] = {
        line + QStringList{"read", "--table", in},
        {"ports", "--json"},
        {"export-csv", "--table", in, "-"},
        {"report", "--table", in, "--pdf", "-"},
    };
    for (const QStringList& args : toFull) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun r = cli(args, bareSession, stdoutTo(full));
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.endsWith(
            "pmx31570a-cli: cannot write standard output: no space left on the disk\n"))
            << r.err.toStdString();
    }
    ::close(full);
}

// "-" is standard output for the CSV and the PDF: the same bytes a new file gets, never to
// a terminal for the PDF, and a reader gone before the start ends the run quietly.
TEST_F(Habits, DashIsStandardOutput) {
    const QString in = table();
    // The bytes as they come, not as text: Shift_JIS is not UTF-8.
    const auto bytesOut = [this](const QStringList& args) {
        const auto p = test::startCli(dir.path(), args);
        EXPECT_TRUE(p->waitForFinished(60000)) << "hang guard";
        EXPECT_EQ(test::shellStatus(*p), 0) << p->readAllStandardError().toStdString();
        return p->readAllStandardOutput();
    };
    for (const char* encoding : {"utf-8", "utf-8-bom", "shift_jis"}) {
        SCOPED_TRACE(encoding);
        const QStringList args{"export-csv", "--table", in, "--lang", "ja", "--encoding", encoding};
        const QString file = dir.filePath(QStringLiteral("%1.csv").arg(encoding));
        EXPECT_EQ(cli(args + QStringList{file}).code, 0);
        EXPECT_EQ(bytesOut(args + QStringList{"-"}), readAll(file));
    }

    CliRun pdf = cli({"report", "--table", in, "--pdf", "-"});
    EXPECT_EQ(std::tuple(pdf.code, pdf.err), std::tuple(0, QString()));
    EXPECT_TRUE(pdf.out.startsWith("%PDF-"));
    EXPECT_TRUE(pdf.out.trimmed().endsWith("%%EOF"));

    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal) | ::unlockpt(terminal), 0);
    const int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(side, 0);
    pdf = cli({"report", "--table", in, "--pdf", "-"}, bareSession, stdoutTo(side));
    EXPECT_EQ(pdf.code, 2);
    EXPECT_TRUE(pdf.err.startsWith("pmx31570a-cli: standard output is a terminal"))
        << pdf.err.toStdString();
    ::close(side);
    ::close(terminal);

    for (const QStringList& args : {QStringList{"export-csv", "--table", in, "-"},
                                    QStringList{"report", "--table", in, "--pdf", "-"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        ::close(fds[0]); // nobody will read
        const CliRun r = cli(args, bareSession, stdoutTo(fds[1]));
        ::close(fds[1]);
        EXPECT_EQ(std::tuple(r.code, r.err), std::tuple(128 + SIGPIPE, QString()));
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("-")));
}

// --json gives the fields of the text columns, one object per line, for every item read,
// every difference, every instrument found and every device and port.
TEST_F(Habits, JsonLinesCarryTheColumnsFields) {
    const QStringList line = startSim();
    const QString in = table();
    const auto objects = [](const QString& out) {
        QList<QJsonObject> list;
        for (const QString& l : out.split('\n', Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument d = QJsonDocument::fromJson(l.toUtf8(), &error);
            EXPECT_TRUE(d.isObject())
                << l.toStdString() << ": " << error.errorString().toStdString();
            list << d.object();
        }
        return list;
    };
    for (const char* command : {"read", "compare"}) {
        SCOPED_TRACE(command);
        const QStringList args = line + QStringList{command, "--table", in};
        const CliRun text = cli(args), json = cli(args + QStringList{"--json"});
        EXPECT_EQ(std::tuple(json.code, json.err), std::tuple(text.code, text.err));
        const QStringList rows = text.out.split('\n', Qt::SkipEmptyParts);
        const QList<QJsonObject> objs = objects(json.out);
        ASSERT_EQ(objs.size(), rows.size());
        for (qsizetype k = 0; k < rows.size(); ++k) {
            const QStringList cols = rows[k].split('\t');
            const QJsonObject& o = objs[k];
            EXPECT_EQ(o["address"].toString(), cols[0]);
            EXPECT_EQ(o["name"].toString(), cols[1]);
            if (QLatin1String(command) == QLatin1String("compare")) {
                EXPECT_EQ(QString::number(o["file"].toInt()), cols[2]);
            }
            const QString last = cols.last();
            if (o.contains("error")) {
                EXPECT_EQ(o["error"].toString(), last);
                EXPECT_EQ(o["error_code"].toInt(), 100); // a KORVAN NAK
            } else {
                EXPECT_EQ(QString::number(o[command[0] == 'r' ? "value" : "instrument"].toInt()),
                          last);
            }
        }
    }

    const QStringList find{"find",          "--port", sim.devicePath(), "--protocol", "korvan",
                           "--instruments", "4"};
    const CliRun text = cli(find), json = cli(find + QStringList{"--json"});
    ASSERT_EQ(json.code, 0) << json.err.toStdString();
    const QList<QJsonObject> found = objects(json.out);
    ASSERT_EQ(found.size(), 1);
    QStringList options;
    for (const char* key :
         {"port", "protocol", "instrument", "rate", "data_bits", "parity", "stop_bits"}) {
        const QJsonValue v = found[0][key];
        options << "--" + QString::fromLatin1(key).replace('_', '-')
                << (v.isString() ? v.toString() : QString::number(v.toInt()));
    }
    EXPECT_EQ(options.join(' ') + "\n", text.out);

    const CliRun ports = cli({"ports"}), portsJson = cli({"ports", "--json"});
    const QList<QJsonObject> entries = objects(portsJson.out);
    const QStringList rows = ports.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 1 + std::max<qsizetype>(entries.size() - 8, 1) + 8);
    for (int n = 1; n <= 8; ++n) {
        const QJsonObject& o = entries[entries.size() - 9 + n];
        EXPECT_EQ(o["port"].toString(), QStringLiteral("COM%1").arg(n));
        EXPECT_TRUE(rows[rows.size() - 9 + n].startsWith(
            QStringLiteral("COM%1: %2")
                .arg(n)
                .arg(o["device"].isNull() ? "(no device)" : o["device"].toString())));
    }
}
