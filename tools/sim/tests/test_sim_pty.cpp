// The executable on its pseudo-terminal, driven by a bare POSIX client.
#include "SimProcess.h"
#include "comm/Checksums.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using pmx::test::SimProcess;

namespace {

class Port {
  public:
    explicit Port(const QString& path) {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        if (m_fd >= 0) {
            termios tio{};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Port() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    // Sends a request and collects `expected` bytes; less when the hang guard ran out.
    QByteArray exchange(const QByteArray& request, int expected, int guardMs = 5000) {
        if (::write(m_fd, request.constData(), size_t(request.size())) != request.size())
            return {};
        QByteArray in;
        while (in.size() < expected) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, guardMs) <= 0)
                break;
            char buf[256];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            in.append(buf, n);
        }
        return in;
    }

  private:
    int m_fd = -1;
};

QByteArray korvanRead(int inst, const QByteArray& item) {
    const QByteArray body = QByteArray(1, char(inst + 0x20)) + "  " + item + '\x03';
    return '\x02' + body + pmx::checksum::hex2(pmx::checksum::bcc(body));
}

QByteArray rtuRead(int inst, int item) {
    QByteArray adu;
    adu += char(inst);
    adu += char(3);
    adu += char(0);
    adu += char(item);
    adu += char(0);
    adu += char(1);
    const std::uint16_t crc = pmx::checksum::crc16(adu);
    return adu + char(crc & 0xFF) + char(crc >> 8);
}

} // namespace

TEST(SimPty, LinkReopenAndCleanExit) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("instrument");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--instrument", "7", "--link", link})) << sim.errorText().toStdString();
    EXPECT_TRUE(sim.devicePath().startsWith("/dev/"));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.devicePath());

    for (int round = 0; round < 2; ++round) { // a client closing must not upset the server
        Port port(link);
        ASSERT_TRUE(port.isOpen());
        const QByteArray answer = port.exchange(korvanRead(7, "0002"), 14);
        EXPECT_EQ(answer.left(12), QByteArray("\x06'  000200C7\x03", 12));
    }
    EXPECT_EQ(sim.logLines(),
              QStringList({"korvan R 0002 -> ACK 00C7", "korvan R 0002 -> ACK 00C7"}));
    EXPECT_TRUE(sim.terminate());
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(SimPty, RtuBytesPassUnchangedAlsoWhenPaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Values made of bytes a cooked terminal would eat or change: XON, XOFF, CR, LF.
    QFile values(dir.filePath("values.txt"));
    ASSERT_TRUE(values.open(QIODevice::WriteOnly));
    values.write("0001=0x1113\n0002=0x0D0A\n0003=0x7F03\n");
    values.close();
    for (const QStringList& pacing : {QStringList{}, QStringList{"--baud", "19200"}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(
            QStringList{"--protocol", "rtu", "--instrument", "1", "--values", values.fileName()} +
            pacing))
            << sim.errorText().toStdString();
        Port port(sim.devicePath());
        ASSERT_TRUE(port.isOpen());
        for (int item = 1; item <= 3; ++item) {
            const QByteArray answer = port.exchange(rtuRead(1, item), 7);
            ASSERT_EQ(answer.size(), 7);
            const int value = (std::uint8_t(answer[3]) << 8) | std::uint8_t(answer[4]);
            EXPECT_EQ(value, item == 1 ? 0x1113 : item == 2 ? 0x0D0A : 0x7F03);
        }
    }
}

TEST(SimPty, BadStartIsReported) {
    SimProcess sim;
    EXPECT_FALSE(sim.start({"--values", "/nonexistent/values.txt"}));
    EXPECT_TRUE(sim.errorText().contains("/nonexistent/values.txt"))
        << sim.errorText().toStdString();
    EXPECT_FALSE(sim.start({"--protocol", "tcp"}));
    EXPECT_FALSE(sim.isRunning());
}
