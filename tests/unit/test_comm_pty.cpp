// The real QSerialPort transport against a pseudo-terminal (POSIX only).
#include "comm/Checksums.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"
#include "comm/SerialTransport.h"

#include <QFile>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

using namespace pmx;

namespace {

// The far end of a pty: answers every KORVAN read with `value`, until stopped.
class PtyInstrument {
  public:
    PtyInstrument() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~PtyInstrument() {
        stop();
        closeMaster();
    }
    QString slave() const { return m_slave; }
    void start(QByteArray value) {
        m_thread = std::thread([this, value] {
            QByteArray in;
            while (!m_stop) {
                pollfd p{m_master, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                char buf[64];
                const ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n <= 0)
                    continue;
                in.append(buf, n);
                const qsizetype etx = in.indexOf(framing::kEtx);
                if (etx < 0 || in.size() < etx + 3)
                    continue;
                const QByteArray covered = in.mid(1, 1) + "  0044" + value + framing::kEtx;
                const QByteArray reply =
                    framing::kAck + covered + checksum::hex2(checksum::bcc(covered));
                // In two pieces, as a slow line delivers it.
                ::write(m_master, reply.constData(), 5);
                ::usleep(20000);
                ::write(m_master, reply.constData() + 5, reply.size() - 5);
                in.clear();
            }
        });
    }
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

  private:
    int m_master = -1;
    QString m_slave;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

std::unique_ptr<SerialComm> commOn(const QString& device) {
    auto com = std::make_unique<SerialComm>(std::make_unique<SerialTransport>(),
                                            [device](const QString&) { return device; });
    com->ProtocolNo = kProtocolKorvan;
    com->DataBits =
        QStringLiteral("7"); // a pty keeps 8N whatever is asked; opening must still work
    com->Parity = QStringLiteral("EVEN");
    com->Timeout = 2000; // a hang guard only: the exchange ends with the frame
    return com;
}

QByteArray readItem(SerialComm& com) {
    QByteArray a("!"), s(" "), c(" "), i("0044"), d;
    qint16 retn = 3;
    return com.SendCommand(a, s, c, i, d, retn);
}

} // namespace

TEST(SerialTransportPty, ExchangeWithSevenBitsEvenParity) {
    PtyInstrument inst;
    ASSERT_FALSE(inst.slave().isEmpty());
    inst.start("ABCD");
    auto com = commOn(inst.slave());
    ASSERT_TRUE(com->OpenPort()) << com->lastOpenErrorText().toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(com->ExtractData(readItem(*com), 1), QByteArray("ABCD"));
}

TEST(SerialTransportPty, BusyAndMissingDevices) {
    PtyInstrument inst;
    auto first = commOn(inst.slave());
    ASSERT_TRUE(first->OpenPort());
    auto second = commOn(inst.slave());
    EXPECT_FALSE(second->OpenPort());
    if (::geteuid() == 0 || ::access(QFile::encodeName(inst.slave()).constData(), R_OK | W_OK) == 0)
        EXPECT_EQ(second->lastOpenError(), OpenError::Busy);
    EXPECT_FALSE(second->lastOpenErrorText().isEmpty());

    auto missing = commOn(QStringLiteral("/dev/pmx-no-such-device"));
    EXPECT_FALSE(missing->OpenPort());
    EXPECT_EQ(missing->lastOpenError(), OpenError::NotFound);
}

TEST(SerialTransportPty, HangUpMakesLaterExchangesFailAtOnce) {
    PtyInstrument inst;
    inst.start("0001");
    auto com = commOn(inst.slave());
    ASSERT_TRUE(com->OpenPort());
    EXPECT_EQ(com->ExtractData(readItem(*com), 1), QByteArray("0001"));
    inst.stop();
    inst.closeMaster();
    EXPECT_TRUE(readItem(*com).isEmpty());
    EXPECT_TRUE(com->lastExchange().deviceGone);
    EXPECT_FALSE(com->isOpen());
    EXPECT_TRUE(readItem(*com).isEmpty());
    EXPECT_TRUE(com->lastExchange().request.isEmpty()); // nothing was even tried
}
#endif
