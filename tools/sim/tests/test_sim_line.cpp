// The program as a client sees it on the pseudo-terminal: hang-ups and late answers.
#include "SimFrames.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace pmx::sim;
using namespace pmx::sim::test;

namespace {

// One run of the program and the client's side of its device.
struct SimRun {
    QProcess process;
    int fd = -1;
    bool hungUp = false;

    ~SimRun() {
        ::close(fd);
        process.kill();
        process.waitForFinished(5000);
    }
    bool start(const QStringList& args) {
        process.start(QStringLiteral(PMX_BIN_DIR "/pmx31570a-sim"), args);
        return open(nextLine());
    }
    QString nextLine() {
        QDeadlineTimer deadline(5000);
        while (!process.canReadLine() && !deadline.hasExpired())
            process.waitForReadyRead(100);
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    bool open(const QString& path) {
        ::close(fd);
        hungUp = false;
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (fd < 0 || tcgetattr(fd, &tio) != 0)
            return false;
        cfmakeraw(&tio);
        return tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    // The client's rate and stop bits, as a program sets them on the device.
    bool setLine(speed_t speed, bool twoStopBits) {
        termios tio{};
        if (tcgetattr(fd, &tio) != 0 || cfsetspeed(&tio, speed) != 0)
            return false;
        tio.c_cflag = twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~tcflag_t(CSTOPB));
        return tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    bool send(const QByteArray& bytes) {
        return ::write(fd, bytes.data(), bytes.size()) == bytes.size();
    }
    // Reads until `count` bytes came, the line hung up (end of file, EIO) or time ran out.
    QByteArray receive(qsizetype count, int timeoutMs = 3000) {
        QByteArray in;
        QDeadlineTimer deadline(timeoutMs);
        char buffer[256];
        while (in.size() < count && !hungUp && !deadline.hasExpired()) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, int(deadline.remainingTime())) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            hungUp = n <= 0;
            in.append(buffer, std::max<ssize_t>(n, 0));
        }
        return in;
    }
    bool hangsUp() { return receive(1).isEmpty() && hungUp; }
};

} // namespace

TEST(SimLine, HangsUpAfterItsOwnRequestsAreAnswered) {
    SimRun sim;
    ASSERT_TRUE(sim.start({"--instrument", "3", "--hangup-after", "2"}));
    ASSERT_TRUE(sim.send(korvanRequest(4, ' ', "0001"))); // another instrument's: not counted
    const QByteArray answer = korvanResponse('\x06', "#  00010063");
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(sim.send(korvanRequest(3, ' ', "0001")));
        EXPECT_EQ(sim.receive(answer.size()), answer) << i;
    }
    EXPECT_TRUE(sim.hangsUp());
    EXPECT_TRUE(sim.process.waitForFinished(3000) &&
                sim.process.exitStatus() == QProcess::NormalExit && sim.process.exitCode() == 0);
}

TEST(SimLine, ComesBackOnANewDeviceWithTheSameMemory) {
    const Protocol a = Protocol::ModbusAscii;
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyPMX");
    SimRun sim;
    ASSERT_TRUE(sim.start(
        {"--protocol", "ascii", "--hangup-after", "1", "--hangup-for", "300", "--link", link}));
    ASSERT_TRUE(sim.send(modbusFrame(a, "010600441234")));
    EXPECT_EQ(sim.receive(17), modbusFrame(a, "010600441234"));
    ASSERT_TRUE(sim.hangsUp());
    EXPECT_FALSE(QFile::exists(link));

    EXPECT_EQ(QFile::symLinkTarget(link), sim.nextLine());
    ASSERT_TRUE(sim.open(link));
    ASSERT_TRUE(sim.send(modbusFrame(a, "010300440001")));
    EXPECT_EQ(sim.receive(15), modbusFrame(a, "0103021234"));
    // The count is spent; SIGUSR1 hangs up at any moment.
    ASSERT_EQ(::kill(pid_t(sim.process.processId()), SIGUSR1), 0);
    EXPECT_TRUE(sim.hangsUp());
    EXPECT_FALSE(sim.nextLine().isEmpty());
}

TEST(SimLine, LateAnswerComesAfterTheNextRequestAndBeforeItsAnswer) {
    const QByteArray answers =
        korvanResponse('\x06', "   0010063F") + korvanResponse('\x06', "   001106A3");
    for (const QStringList& late : {QStringList{"--fault", "0010=late:400"},
                                    QStringList{"--delay-all", "400", "--fault", "0011=none"}}) {
        SimRun sim;
        ASSERT_TRUE(sim.start(late));
        ASSERT_TRUE(sim.send(korvanRequest(0, ' ', "0010")));
        EXPECT_TRUE(sim.receive(1, 150).isEmpty()) << late.join(' ').toStdString();
        ASSERT_TRUE(sim.send(korvanRequest(0, ' ', "0011")));
        EXPECT_EQ(sim.receive(answers.size()), answers) << late.join(' ').toStdString();
    }
}

TEST(SimLine, OnlyAClientAtTheInstrumentsRateAndStopBitsIsUnderstood) {
    SimRun sim;
    ASSERT_TRUE(sim.start({"--instrument", "3", "--line", "4800-8N2"}));
    const QByteArray request = korvanRequest(3, ' ', "0001");
    const QByteArray answer = korvanResponse('\x06', "#  00010063");
    // The settings are read again for every request.
    ASSERT_TRUE(sim.setLine(B4800, true));
    ASSERT_TRUE(sim.send(request));
    EXPECT_EQ(sim.receive(answer.size()), answer);
    ASSERT_TRUE(sim.setLine(B4800, false));
    ASSERT_TRUE(sim.send(request));
    const QByteArray noise = sim.receive(answer.size());
    EXPECT_EQ(noise.size(), answer.size());
    EXPECT_NE(noise, answer);
    ASSERT_TRUE(sim.setLine(B9600, true));
    ASSERT_TRUE(sim.send(request));
    EXPECT_TRUE(sim.receive(1, 150).isEmpty());
    ASSERT_TRUE(sim.setLine(B4800, true));
    ASSERT_TRUE(sim.send(request));
    EXPECT_EQ(sim.receive(answer.size()), answer);
}

// The two-wire adapter: every request comes back at once, then the answer (none with
// --silent).
TEST(SimLine, EchoSendsTheRequestBackBeforeTheAnswer) {
    const QByteArray request = korvanRequest(0, ' ', "0010");
    const QByteArray answer = korvanResponse('\x06', "   0010063F");
    for (const bool silent : {false, true}) {
        SimRun sim;
        ASSERT_TRUE(sim.start(silent ? QStringList{"--echo", "--silent"} : QStringList{"--echo"}));
        ASSERT_TRUE(sim.send(request));
        EXPECT_EQ(sim.receive(request.size() + answer.size(), silent ? 300 : 3000),
                  silent ? request : request + answer);
    }
}

// The memory is written out at start and again after every write carried out; the same
// chaos seed does the same to the same requests.
TEST(SimLine, DumpFollowsWritesAndAChaosSeedReplays) {
    QTemporaryDir dir;
    const QString dump = dir.filePath("memory.txt");
    QStringList faults[2];
    for (int run = 0; run < 2; ++run) {
        SimRun sim;
        const QString log = dir.filePath(QStringLiteral("log%1.txt").arg(run));
        ASSERT_TRUE(sim.start(
            {"--dump", dump, "--log", log, "--chaos-seed", "11", "--chaos-timeout", "5"}));
        QFile f(dump);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().contains("0010=1599\n"));
        f.close();
        for (int i = 0; i < 12; ++i) {
            const QByteArray value = QByteArray::number(i, 16).rightJustified(4, '0').toUpper();
            ASSERT_TRUE(sim.send(korvanRequest(0, 'P', "0010", value)));
            sim.receive(64, 120); // whatever the line delivers
        }
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().contains("0010=11\n"));
        QFile l(log);
        ASSERT_TRUE(l.open(QIODevice::ReadOnly));
        for (const QByteArray& line : l.readAll().split('\n'))
            faults[run] << QString::fromLatin1(line.mid(line.indexOf('[')));
    }
    EXPECT_EQ(faults[0], faults[1]);
    EXPECT_TRUE(faults[0].join(QString()).contains(QStringLiteral("chaos:")));
}
