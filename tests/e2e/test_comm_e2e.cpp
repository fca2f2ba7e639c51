// The real serial object against the virtual instrument on a pseudo-terminal, the same
// cases for each protocol.
#include "SimProcess.h"
#include "TestPrinters.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/SerialComm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

constexpr qint16 kInst = 3;

class CommE2E : public ::testing::TestWithParam<test::ProtocolCase> {
  protected:
    // Starts the instrument with extra arguments and opens the port at 9600 7E1.
    void startAndOpen(const QStringList& extra = {}) {
        ASSERT_TRUE(m_sim.start(
            QStringList{"--protocol", GetParam().name, "--instrument", QString::number(kInst)} +
            extra))
            << m_sim.errorText().toStdString();
        ASSERT_TRUE(open(m_com, "7", "EVEN")) << m_com.lastOpenErrorText().toStdString();
    }
    bool open(SerialComm& com, const QString& dataBits, const QString& parity,
              const QString& device = {}, int rate = 9600) {
        com.closePort();
        com.setConditions({.protocol = ProtocolNumber(GetParam().no),
                           .rate = rate,
                           .dataBits = dataBits.toInt(),
                           .stopBits = 1,
                           .parity = parity == "NONE"  ? Parity::None
                                     : parity == "ODD" ? Parity::Odd
                                                       : Parity::Even,
                           .port = device.isEmpty() ? m_sim.devicePath() : device,
                           .timeoutMs = 200});
        return com.openPort();
    }
    // One command as the read and write sequences send it.
    QByteArray send(const char* commod, const char* item, const char* data = "",
                    qint16 inst = kInst) {
        qint16 retn = 3;
        QByteArray sub, cmd(commod), no(item), d(data);
        return sendItemCommand(m_com, inst, sub, cmd, no, d, retn);
    }
    int classify(const QByteArray& text, const char* commod) {
        return classifyResponse(text, m_com.conditions().protocol, QByteArray(commod));
    }
    // The value of a read, or nullopt when it failed.
    std::optional<qint16> read(const char* item) {
        const QByteArray text = send("03", item);
        if (classify(text, "03") != kResponseOk)
            return std::nullopt;
        return decodeDataField(m_com.extractData(text, 1));
    }
    bool korvan() const { return GetParam().no == kProtocolKorvan; }
    // The classes of a refusal (NAK / exception) and of silence or unusable bytes.
    int refusal() const { return korvan() ? kResponseNak : kResponseCommError; }
    int nothing() const { return korvan() ? kResponseNone : kResponseCommError; }

    QTemporaryDir m_dir;
    test::SimProcess m_sim;
    SerialComm m_com;
};

} // namespace

TEST_P(CommE2E, SilenceGarbageLateAnswersAndOtherInstrumentsCostOneExchange) {
    startAndOpen(
        {"--fault", "0011=silent", "--fault", "0013=garbage", "--fault", "0014=delay:300"});
    EXPECT_EQ(classify(send("03", "0011"), "03"), nothing());
    EXPECT_EQ(read("0002"), qint16(199));
    EXPECT_EQ(classify(send("03", "0013"), "03"), nothing());
    EXPECT_EQ(read("0003"), qint16(299));
    EXPECT_EQ(classify(send("03", "0044", "", kInst + 1), "03"), nothing());
    // An answer later than the time-out must not be taken for the next one's, however
    // soon the next request follows.
    EXPECT_EQ(classify(send("03", "0014"), "03"), nothing());
    EXPECT_EQ(read("0004"), qint16(399));
    EXPECT_EQ(read("0005"), qint16(499));
}

TEST_P(CommE2E, EveryAnswerLateGivesNoValueAndHidesNoRefusal) {
    // Time-out 200 ms, every answer 300 ms after its request; 0007 refuses writes.
    QStringList faults;
    for (const char* item : {"0001", "0002", "0003", "0004", "0005", "0006"})
        faults << "--fault" << QStringLiteral("%1=delay:300").arg(item);
    startAndOpen(faults + QStringList{"--fault", "0007=readonly"});
    for (const char* item : {"0001", "0002", "0003", "0004", "0005"})
        EXPECT_EQ(read(item), std::nullopt) << item;
    EXPECT_EQ(classify(send("06", "0006", "0001"), "06"), nothing());
    // The late acknowledgement of 0006 must not pass for 0007's.
    EXPECT_EQ(classify(send("06", "0007", "0001"), "06"), refusal());
    EXPECT_EQ(read("0008"), qint16(799));
}

TEST_P(CommE2E, ShortTimeOutAtASlowRate) {
    // 100 ms is less than a request and its answer take at 2400 bit/s; the time-out
    // measures the instrument only.
    ASSERT_TRUE(m_sim.start(
        {"--protocol", GetParam().name, "--instrument", QString::number(kInst), "--baud", "2400"}));
    ASSERT_TRUE(open(m_com, "7", "EVEN", {}, 2400));
    Conditions shortWait = m_com.conditions();
    shortWait.timeoutMs = 100;
    m_com.setConditions(shortWait);
    EXPECT_EQ(read("0001"), qint16(99));
    EXPECT_EQ(classify(send("06", "0002", "0005"), "06"), kResponseOk);
    EXPECT_EQ(read("0002"), qint16(5));
}

TEST_P(CommE2E, BusyMissingAndVanishingDevice) {
    startAndOpen();
    SerialComm second;
    EXPECT_FALSE(open(second, "7", "EVEN"));
    EXPECT_EQ(second.lastOpenError(), OpenError::Busy);
    EXPECT_FALSE(open(second, "7", "EVEN", m_dir.filePath("no-such-device")));
    EXPECT_EQ(second.lastOpenError(), OpenError::NotFound);

    EXPECT_EQ(read("0001"), qint16(99));
    m_sim.kill();
    EXPECT_TRUE(send("03", "0001").isEmpty());
    EXPECT_TRUE(m_com.lastExchange().deviceGone);
    EXPECT_FALSE(m_com.isOpen());
    EXPECT_TRUE(send("06", "0001", "0002").isEmpty());
    EXPECT_TRUE(m_com.lastExchange().request.isEmpty()); // nothing was even tried
}

TEST_P(CommE2E, HangUpWhileIdleClosesThePortOnce) {
    // Left open, a hung-up line keeps the event loop woken for nothing (a core at 100 %).
    startAndOpen();
    int reports = 0;
    m_com.setLostHandler([&reports] { ++reports; });
    EXPECT_EQ(read("0001"), qint16(99));
    m_sim.kill();
    QElapsedTimer t;
    t.start();
    while (reports == 0 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (int i = 0; i < 10; ++i) // any further wake-up would report again
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(m_com.deviceLost());
    EXPECT_FALSE(m_com.isOpen());
    EXPECT_FALSE(m_com.lostDevice().isEmpty());
}

TEST_P(CommE2E, ReopeningThroughTheLinkAndCleanExit) {
    const QString link = m_dir.filePath("instrument");
    startAndOpen({"--link", link});
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), m_sim.devicePath());
    EXPECT_EQ(read("0001"), qint16(99));
    // A client closing and opening again, with other settings, must not upset the server.
    ASSERT_TRUE(open(m_com, "8", "NONE", link));
    EXPECT_EQ(read("0002"), qint16(199));
    ASSERT_TRUE(open(m_com, "7", "EVEN", link));
    EXPECT_EQ(classify(send("06", "0003", "0007"), "06"), kResponseOk);
    m_com.closePort();
    ASSERT_TRUE(open(m_com, "7", "EVEN"));
    EXPECT_EQ(read("0003"), qint16(7));
    m_com.closePort();
    EXPECT_TRUE(m_sim.terminate());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

INSTANTIATE_TEST_SUITE_P(, CommE2E, test::allProtocols(), ::testing::PrintToStringParamName());
