// The real communication object against the virtual instrument on a pseudo-terminal,
// the same cases for each protocol.
#include "SimProcess.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/SerialComm.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace pmx;
using pmx::test::SimProcess;

namespace {

constexpr qint16 kInst = 3;
// Hang guard for one exchange: far above any time-out used here.
constexpr qint64 kHangGuardMs = 15000;

struct Case {
    qint16 protocolNo;
    const char* simName;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.simName;
}

class CommE2E : public ::testing::TestWithParam<Case> {
  protected:
    // Starts the instrument with extra arguments and opens the port at 9600 7E1.
    void startAndOpen(const QStringList& extra = {}) {
        QStringList args{"--protocol", GetParam().simName, "--instrument", QString::number(kInst)};
        args += extra;
        ASSERT_TRUE(m_sim.start(args)) << m_sim.errorText().toStdString();
        ASSERT_TRUE(open("7", "EVEN")) << m_com.lastOpenErrorText().toStdString();
    }

    bool open(const QString& dataBits, const QString& parity) {
        m_com.ClosePort();
        m_com.ProtocolNo = GetParam().protocolNo;
        m_com.Rate = QStringLiteral("9600");
        m_com.DataBits = dataBits;
        m_com.StopBits = QStringLiteral("1");
        m_com.Parity = parity;
        m_com.PortName = m_sim.devicePath();
        m_com.Timeout = 200;
        return m_com.OpenPort();
    }

    // One command as the read and write sequences send it.
    QByteArray send(const char* commod, const char* item, const char* data = "",
                    qint16 inst = kInst) {
        qint16 stAdr = inst;
        qint16 retn = 3;
        QByteArray sub;
        QByteArray cmd(commod);
        QByteArray no(item);
        QByteArray d(data);
        QElapsedTimer guard;
        guard.start();
        const QByteArray text = Sendcomm(m_com, stAdr, sub, cmd, no, d, retn);
        EXPECT_LT(guard.elapsed(), kHangGuardMs) << "exchange hung";
        return text;
    }

    int classify(const QByteArray& text, const char* commod) {
        return classifyResponse(text, m_com.ProtocolNo, QByteArray(commod));
    }

    // The value of a read, or nullopt when it failed.
    std::optional<qint16> read(const char* item) {
        const QByteArray text = send("03", item);
        if (classify(text, "03") != kResponseOk)
            return std::nullopt;
        return decodeDataField(m_com.ExtractData(text, 1));
    }

    bool korvan() const { return GetParam().protocolNo == kProtocolKorvan; }
    // The response class a refusal (NAK / exception) gets.
    int refusal() const { return korvan() ? kResponseNak : kResponseCommError; }
    // The response class of silence or of bytes that formed no response.
    int nothing() const { return korvan() ? kResponseNone : kResponseCommError; }

    SimProcess m_sim;
    SerialComm m_com;
};

} // namespace

TEST_P(CommE2E, ReadWriteAndReadBack) {
    startAndOpen();
    EXPECT_EQ(read("0044"), qint16(6799)); // the instrument's default: 100 * item - 1
    EXPECT_EQ(read("0000"), qint16(-1));
    EXPECT_EQ(classify(send("06", "0044", "FFFF"), "06"), kResponseOk);
    EXPECT_EQ(classify(send("06", "007F", "8000"), "06"), kResponseOk);
    EXPECT_EQ(read("0044"), qint16(-1));
    EXPECT_EQ(read("007F"), qint16(-32768));

    // The instrument saw the requests in the order sent.
    const QStringList log = m_sim.logLines();
    ASSERT_EQ(log.size(), 6);
    EXPECT_TRUE(log[2].contains(" W 0044 FFFF -> ")) << log[2].toStdString();
    EXPECT_TRUE(log[3].contains(" W 007F 8000 -> ")) << log[3].toStdString();
    EXPECT_TRUE(log[4].contains(" R 0044 -> ")) << log[4].toStdString();
}

TEST_P(CommE2E, RefusalsAndChecksumErrors) {
    startAndOpen({"--fault", "0005=nak", "--fault", "0012=readonly", "--fault", "0010=badsum"});
    EXPECT_EQ(classify(send("03", "0005"), "03"), refusal());
    EXPECT_EQ(classify(send("06", "0012", "0001"), "06"), refusal());
    EXPECT_EQ(read("0012"), qint16(1799));                    // the refused write changed nothing
    EXPECT_EQ(classify(send("03", "0080"), "03"), refusal()); // no such item
    // A spoiled checksum: a checksum error under KORVAN, no response under Modbus.
    EXPECT_EQ(classify(send("03", "0010"), "03"),
              korvan() ? kResponseChecksum : kResponseCommError);
    EXPECT_EQ(read("0001"), qint16(99));
}

TEST_P(CommE2E, SilenceGarbageAndLateAnswersCostOneExchange) {
    startAndOpen(
        {"--fault", "0011=silent", "--fault", "0013=garbage", "--fault", "0014=delay:300"});
    EXPECT_EQ(classify(send("03", "0011"), "03"), nothing());
    EXPECT_EQ(read("0002"), qint16(199));
    EXPECT_EQ(classify(send("03", "0013"), "03"), nothing());
    EXPECT_EQ(read("0003"), qint16(299));
    // An answer later than the time-out must not be taken for the next one's.
    EXPECT_EQ(classify(send("03", "0014"), "03"), nothing());
    QThread::msleep(1200); // let the late answer arrive in between exchanges
    EXPECT_EQ(read("0004"), qint16(399));
    EXPECT_EQ(read("0005"), qint16(499));
}

TEST_P(CommE2E, OtherInstrumentNumberGetsNoAnswer) {
    startAndOpen();
    EXPECT_EQ(classify(send("03", "0044", "", kInst + 1), "03"), nothing());
    EXPECT_EQ(read("0044"), qint16(6799));
}

TEST_P(CommE2E, DeviceVanishing) {
    startAndOpen();
    EXPECT_EQ(read("0001"), qint16(99));
    m_sim.kill();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(send("03", "0001").isEmpty());
        EXPECT_TRUE(send("06", "0001", "0002").isEmpty());
    }
}

TEST_P(CommE2E, ReopeningKeepsWorking) {
    startAndOpen();
    EXPECT_EQ(read("0001"), qint16(99));
    ASSERT_TRUE(open("8", "NONE"));
    EXPECT_EQ(read("0002"), qint16(199));
    ASSERT_TRUE(open("7", "EVEN"));
    EXPECT_EQ(read("0003"), qint16(299));
    EXPECT_EQ(classify(send("06", "0003", "0007"), "06"), kResponseOk);
    m_com.ClosePort();
    ASSERT_TRUE(open("7", "EVEN"));
    EXPECT_EQ(read("0003"), qint16(7));
}

INSTANTIATE_TEST_SUITE_P(Protocols, CommE2E,
                         ::testing::Values(Case{kProtocolKorvan, "korvan"},
                                           Case{kProtocolModbusAscii, "ascii"},
                                           Case{kProtocolModbusRtu, "rtu"}),
                         caseName);
