// The real serial object against the virtual instrument on a pseudo-terminal or on its own
// TCP port, the same cases for each protocol: what only a real device shows (stale and late
// bytes on the line, a busy, missing or vanishing device, opening it again). How many
// requests and how long each waits is the scripted line's business
// (tests/unit/test_line_integrity.cpp).
#include "SimProcess.h"
#include "TestPrinters.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/SerialComm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

constexpr qint16 kInst = 3;

class CommE2E : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    void startAndOpen(const QStringList& extra = {}) {
        ASSERT_TRUE(m_sim.start(
            QStringList{"--protocol", GetParam().name, "--instrument", QString::number(kInst)} +
            extra))
            << m_sim.errorText().toStdString();
        ASSERT_TRUE(open(m_com)) << m_com.lastOpenErrorText().toStdString();
    }
    // At 9600 7E1, on the instrument's device unless another is named. The time-out is
    // long enough for a busy machine to answer in time; an answer meant to be late is
    // later still, counted from when the instrument read the request.
    bool open(SerialComm& com, const QString& device = {}) {
        com.closePort();
        com.setConditions({.protocol = ProtocolNumber(GetParam().no),
                           .port = device.isEmpty() ? m_sim.devicePath() : device,
                           .timeoutMs = 1000});
        return com.openPort();
    }
    // One command as the read and write sequences send it.
    ExchangeResult send(const char* commod, const char* item, const char* data = "",
                        qint16 inst = kInst) {
        return sendItemCommand(m_com, Request::make(inst, commod, item, data));
    }
    // The value of a read, or nullopt when it failed.
    std::optional<qint16> read(const char* item, qint16 inst = kInst) {
        const ExchangeResult r = send("03", item, "", inst);
        if (!r.good() || r.values.isEmpty())
            return std::nullopt;
        return r.values.first();
    }

    QTemporaryDir m_dir;
    test::SimProcess m_sim;
    SerialComm m_com;
};

} // namespace

TEST_P(CommE2E, SilenceGarbageLateAnswersAndOtherInstrumentsCostOneExchange) {
    startAndOpen(
        {"--fault", "0011=silent", "--fault", "0013=garbage", "--fault", "0014=delay:1600"});
    EXPECT_EQ(read("0011"), std::nullopt);
    EXPECT_EQ(read("0002"), qint16(199));
    EXPECT_EQ(read("0013"), std::nullopt);
    EXPECT_EQ(read("0003"), qint16(299));
    EXPECT_EQ(read("0044", kInst + 1), std::nullopt);
    // An answer later than the time-out must not be taken for the next one's, however
    // soon the next request follows.
    EXPECT_EQ(read("0014"), std::nullopt);
    EXPECT_EQ(read("0004"), qint16(399));
    EXPECT_EQ(read("0005"), qint16(499));
}

TEST_P(CommE2E, BusyMissingAndVanishingDevice) {
    startAndOpen();
    SerialComm second;
    EXPECT_FALSE(open(second));
    EXPECT_EQ(second.lastOpenError(), OpenError::Busy);
    EXPECT_FALSE(open(second, m_dir.filePath("no-such-device")));
    EXPECT_EQ(second.lastOpenError(), OpenError::NotFound);

    EXPECT_EQ(read("0001"), qint16(99));
    m_sim.kill();
    EXPECT_EQ(send("03", "0001").outcome, ExchangeOutcome::DeviceLost);
    EXPECT_TRUE(m_com.lastExchange().deviceGone);
    EXPECT_FALSE(m_com.isOpen());
    EXPECT_EQ(send("06", "0001", "0002").outcome, ExchangeOutcome::DeviceLost);
    EXPECT_TRUE(m_com.lastExchange().request.isEmpty()); // nothing was even tried
}

TEST_P(CommE2E, HangUpWhileIdleClosesThePortOnce) {
    // Left open, a hung-up line keeps the event loop woken for nothing (a core at 100 %).
    startAndOpen();
    int reports = 0;
    m_com.setLostHandler([&reports] { ++reports; });
    EXPECT_EQ(read("0001"), qint16(99));
    m_sim.kill();
    EXPECT_TRUE(QTest::qWaitFor([&reports] { return reports > 0; }, 5000)); // hang guard
    for (int i = 0; i < 10; ++i) // any further wake-up would report again
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(m_com.deviceLost());
    EXPECT_FALSE(m_com.isOpen());
    EXPECT_FALSE(m_com.lostDevice().isEmpty());
}

TEST_P(CommE2E, TheInstrumentsLinkOpensAsItsPtyAndGoesWithIt) {
    const QString link = m_dir.filePath("instrument");
    startAndOpen({"--link", link});
    ASSERT_TRUE(open(m_com, link)) << m_com.lastOpenErrorText().toStdString();
    EXPECT_EQ(read("0003"), qint16(299));
    m_com.closePort();
    EXPECT_TRUE(m_sim.terminate());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST_P(CommE2E, OverTcpReadWriteAndTheNextClientFindsTheSameMemory) {
    startAndOpen({"--tcp", "0", "--fault", "0011=nak"});
    EXPECT_TRUE(m_com.isNetwork());
    EXPECT_EQ(read("0044"), qint16(6799));
    EXPECT_TRUE(send("06", "0005", "FF9C").good());
    EXPECT_EQ(read("0005"), qint16(-100));
    EXPECT_FALSE(read("0011").has_value()) << "the refused item";
    EXPECT_EQ(read("0001"), qint16(99)) << "the line goes on after a refusal";
    ASSERT_TRUE(open(m_com)) << "served when the first client has left";
    EXPECT_EQ(read("0005"), qint16(-100));
}

TEST_P(CommE2E, OverTcpTheFarEndClosingInAReadIsTheSequencesToReportAndRecovered) {
    // The connection closes after the third request's answer, and the port is refused
    // for a while, as a device server restarting.
    startAndOpen({"--tcp", "0", "--hangup-after", "3", "--hangup-for", "300"});
    int reports = 0;
    m_com.setLostHandler([&reports] { ++reports; });
    for (const char* item : {"0000", "0001", "0002"})
        EXPECT_TRUE(read(item).has_value()) << item;
    EXPECT_FALSE(read("0003").has_value());
    EXPECT_TRUE(m_com.lastExchange().deviceGone);
    EXPECT_EQ(m_com.lostDevice(), m_sim.devicePath());
    EXPECT_EQ(reports, 0);
    // The rest of the read fails at once, without sending.
    EXPECT_FALSE(read("0004").has_value());
    EXPECT_TRUE(m_com.lastExchange().request.isEmpty());

    // Reconnecting as the window's watch does, at a modest pace; a hang guard only.
    const QDeadlineTimer guard(10000);
    while (!m_com.openPort() && !guard.hasExpired())
        QThread::msleep(100);
    ASSERT_TRUE(m_com.isOpen()) << m_com.lastOpenErrorText().toStdString();
    EXPECT_EQ(read("0004"), qint16(399));
}

INSTANTIATE_TEST_SUITE_P(, CommE2E, test::allProtocols(), ::testing::PrintToStringParamName());
