// The serial object on a line reached over TCP: the virtual instrument listening on a
// loopback port, and the instrument on a pty passed through socat, in each protocol.
#include "SimProcess.h"
#include "SocatBridge.h"
#include "TestPrinters.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"

#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

constexpr qint16 kInst = 3;

class TcpE2E : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    // COM4 stands for the address in the port map, as the conditions dialog stores it.
    TcpE2E() : m_com(nullptr, [this](const QString& p) { return PortMap(m_store).resolve(p); }) {}

    QStringList simArgs(const QStringList& extra = {}) const {
        return QStringList{"--protocol", GetParam().name, "--instrument", QString::number(kInst)} +
               extra;
    }
    bool open(const QString& address) {
        PortMap(m_store).setMapping("COM4", address);
        m_com.setConditions({.protocol = ProtocolNumber(GetParam().no),
                             .instrument = kInst,
                             .port = "COM4",
                             .timeoutMs = 300});
        return m_com.openPort();
    }
    QByteArray send(const char* commod, const char* item, const char* data = "") {
        qint16 retn = 3, inst = kInst;
        QByteArray sub, cmd(commod), no(item), d(data);
        return sendItemCommand(m_com, inst, sub, cmd, no, d, retn);
    }
    std::optional<qint16> read(const char* item) {
        const QByteArray text = send("03", item);
        if (classifyResponse(text, m_com.conditions().protocol, "03") != kResponseOk)
            return std::nullopt;
        return decodeDataField(m_com.extractData(text, 1));
    }
    bool write(const char* item, const char* hex4) {
        return classifyResponse(send("06", item, hex4), m_com.conditions().protocol, "06") ==
               kResponseOk;
    }
    // Read, write and read back, and a refusal: the exchanges of the serial line.
    void readWriteReadBack() {
        EXPECT_EQ(read("0002"), qint16(199));
        EXPECT_EQ(read("0044"), qint16(6799));
        EXPECT_TRUE(write("0005", "FF9C"));
        EXPECT_EQ(read("0005"), qint16(-100));
        EXPECT_TRUE(write("007F", "1234"));
        EXPECT_EQ(read("007F"), qint16(0x1234));
        EXPECT_FALSE(read("0011").has_value()) << "the refused item";
        EXPECT_EQ(read("0001"), qint16(99)) << "the line goes on after a refusal";
    }

    MemorySettingsStore m_store;
    test::SimProcess m_sim;
    SerialComm m_com;
};

} // namespace

TEST_P(TcpE2E, ReadAndWriteOnTheInstrumentsOwnPort) {
    ASSERT_TRUE(m_sim.start(simArgs({"--tcp", "0", "--fault", "0011=nak"})))
        << m_sim.errorText().toStdString();
    ASSERT_TRUE(m_sim.devicePath().startsWith("tcp://127.0.0.1:"));
    ASSERT_TRUE(open(m_sim.devicePath())) << m_com.lastOpenErrorText().toStdString();
    EXPECT_TRUE(m_com.isNetwork());
    EXPECT_EQ(m_com.lastDevice(), m_sim.devicePath());
    readWriteReadBack();
    EXPECT_EQ(m_sim.logLines().size(), 8);
}

TEST_P(TcpE2E, ReadAndWriteThroughSocatToAPty) {
    if (!test::SocatBridge::available())
        GTEST_SKIP() << "socat is not installed (scripts/deps.sh)";
    ASSERT_TRUE(m_sim.start(simArgs({"--fault", "0011=nak"}))) << m_sim.errorText().toStdString();
    test::SocatBridge bridge;
    ASSERT_TRUE(bridge.start(m_sim.devicePath())) << bridge.errorText().toStdString();
    ASSERT_TRUE(open(bridge.address())) << m_com.lastOpenErrorText().toStdString();
    readWriteReadBack();
}

TEST_P(TcpE2E, FarEndClosingInAReadIsReportedOnceAndRecovered) {
    // The connection closes after the third request's answer, and the port is refused
    // for a while, as a device server restarting.
    ASSERT_TRUE(m_sim.start(simArgs({"--tcp", "0", "--hangup-after", "3", "--hangup-for", "300"})))
        << m_sim.errorText().toStdString();
    ASSERT_TRUE(open(m_sim.devicePath()));
    int reports = 0;
    m_com.setLostHandler([&] { ++reports; });
    int good = 0;
    int lostAt = -1;
    for (int item = 0; item < 10 && lostAt < 0; ++item) {
        const QByteArray no = QByteArray::number(item, 16).rightJustified(4, '0').toUpper();
        if (read(no.constData()))
            ++good;
        else if (m_com.lastExchange().deviceGone)
            lostAt = item;
    }
    EXPECT_EQ(good, 3);
    EXPECT_EQ(lostAt, 3);
    EXPECT_TRUE(m_com.deviceLost());
    EXPECT_EQ(m_com.lostDevice(), m_sim.devicePath());
    EXPECT_EQ(reports, 0) << "a loss inside an exchange is the sequence's to report";
    // The rest of the read fails at once, without sending.
    EXPECT_FALSE(read("0004").has_value());
    EXPECT_TRUE(m_com.lastExchange().deviceGone);
    EXPECT_TRUE(m_com.lastExchange().request.isEmpty());

    // Reconnecting as the window's watch does, at a modest pace; a hang guard only.
    const QDeadlineTimer guard(10000);
    bool reopened = false;
    while (!reopened && !guard.hasExpired()) {
        reopened = m_com.openPort();
        if (!reopened) {
            EXPECT_TRUE(m_com.lastOpenErrorText().contains("could not be opened"));
            QThread::msleep(100);
        }
    }
    ASSERT_TRUE(reopened);
    EXPECT_FALSE(m_com.deviceLost());
    EXPECT_EQ(read("0004"), qint16(399));
}

TEST_P(TcpE2E, NextClientIsServedWhenTheFirstLeaves) {
    ASSERT_TRUE(m_sim.start(simArgs({"--tcp", "0"})));
    ASSERT_TRUE(open(m_sim.devicePath()));
    EXPECT_TRUE(write("0010", "0042"));
    m_com.closePort();
    SerialComm second(nullptr, [](const QString& p) { return p; });
    second.setConditions({.protocol = ProtocolNumber(GetParam().no),
                          .instrument = kInst,
                          .port = m_sim.devicePath(),
                          .timeoutMs = 300});
    ASSERT_TRUE(second.openPort()) << second.lastOpenErrorText().toStdString();
    qint16 retn = 1, inst = kInst;
    QByteArray sub, cmd("03"), no("0010"), d;
    const QByteArray text = sendItemCommand(second, inst, sub, cmd, no, d, retn);
    ASSERT_EQ(classifyResponse(text, second.conditions().protocol, "03"), kResponseOk);
    EXPECT_EQ(decodeDataField(second.extractData(text, 1)), 0x42) << "the same memory";
}

INSTANTIATE_TEST_SUITE_P(, TcpE2E, test::allProtocols(), ::testing::PrintToStringParamName());
