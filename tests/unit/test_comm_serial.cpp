#include "ScriptedTransport.h"

#include "comm/Checksums.h"
#include "comm/Classification.h"
#include "comm/CommandFields.h"
#include "comm/Framing.h"
#include "comm/SerialComm.h"

#include <gtest/gtest.h>

using namespace pmx;
using pmx::test::ScriptedTransport;
using Reply = ScriptedTransport::Reply;

namespace {

constexpr qint32 kTimeout = 300;

// Builds the instrument's side of the conversation for one protocol.
struct Wire {
    qint16 protocol;

    // Answer to a read of item 0044h from instrument `inst` with the value `hex`.
    QByteArray readReply(int inst, const QByteArray& hex) const {
        if (protocol == kProtocolKorvan) {
            const QByteArray covered =
                QByteArray(1, char(inst + 32)) + "  0044" + hex + framing::kEtx;
            return framing::kAck + covered + checksum::hex2(checksum::bcc(covered));
        }
        const QByteArray msg = QByteArray(1, char(inst)) + "\x03\x02" + QByteArray::fromHex(hex);
        return protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(msg)
                                                : framing::modbusRtuFrame(msg);
    }
    // The response text the caller must get for readReply.
    QByteArray readText(int inst, const QByteArray& hex) const {
        if (protocol == kProtocolKorvan)
            return readReply(inst, hex);
        return framing::modbusAsciiFrame(QByteArray(1, char(inst)) + "\x03\x02" +
                                         QByteArray::fromHex(hex));
    }
    QByteArray corrupted(const QByteArray& frame) const {
        QByteArray bad = frame;
        // Last checksum character (KORVAN), LRC digit (ASCII) or CRC byte (RTU).
        const qsizetype at = protocol == kProtocolModbusAscii ? bad.size() - 3 : bad.size() - 1;
        bad[at] =
            bad[at] == '0' ? '1' : char(protocol == kProtocolModbusRtu ? bad[at] ^ 0x5A : '0');
        return bad;
    }
    // The message that a garbled or unusable answer gives.
    int garbledClass() const {
        return protocol == kProtocolKorvan ? kResponseChecksum : kResponseCommError;
    }
    int silentClass() const {
        return protocol == kProtocolKorvan ? kResponseNone : kResponseCommError;
    }
};

struct Rig {
    explicit Rig(qint16 protocol) : wire{protocol} {
        auto t = std::make_unique<ScriptedTransport>();
        line = t.get();
        com = std::make_unique<SerialComm>(std::move(t), [](const QString& name) {
            return name == QLatin1String("COM1") ? QStringLiteral("/dev/ttyFAKE0") : QString();
        });
        com->ProtocolNo = protocol;
        com->Timeout = kTimeout;
        com->Rate = QStringLiteral("9600");
        EXPECT_TRUE(com->OpenPort());
    }
    // One read of item 0044h from instrument 1, through Sendcomm as the sequences do it.
    QByteArray read(qint16 inst = 1) {
        QByteArray subadr, commod("03"), item("0044"), data;
        qint16 retn = 3;
        return Sendcomm(*com, inst, subadr, commod, item, data, retn);
    }
    // RTU's silence at 9600 bit/s, 7E1, in the whole milliseconds of the virtual clock.
    static qint64 silenceMs() { return (SerialComm::rtuSilenceNs(9600, 10) + 999999) / 1000000; }
    int classify(const QByteArray& text) const {
        return classifyResponse(text, wire.protocol, "03");
    }
    // Virtual time an exchange may take before its request goes out (RTU's quiet time).
    qint64 lead() const { return wire.protocol == kProtocolModbusRtu ? silenceMs() : 0; }

    Wire wire;
    ScriptedTransport* line;
    std::unique_ptr<SerialComm> com;
};

class SerialCommAllProtocols : public ::testing::TestWithParam<qint16> {};

} // namespace

TEST_P(SerialCommAllProtocols, FrameInPiecesEndsWithoutWaitingForTimeout) {
    Rig rig(GetParam());
    rig.line->replies.push_back(Reply::pieces(rig.wire.readReply(1, "FFFF"), 1, 1));
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read();
    EXPECT_EQ(text, rig.wire.readText(1, "FFFF"));
    EXPECT_EQ(rig.classify(text), kResponseOk);
    EXPECT_EQ(decodeDataField(rig.com->ExtractData(text, 1)), -1);
    // One byte a millisecond: done as soon as the last byte came, long before the time-out.
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + rig.wire.readReply(1, "FFFF").size());
    EXPECT_EQ(rig.line->written.size(), 1);
}

TEST_P(SerialCommAllProtocols, StaleInputIsDroppedAndGarbageBeforeTheFrameSkipped) {
    Rig rig(GetParam());
    rig.line->inject(0, rig.wire.readReply(1, "1111")); // a late answer to an earlier request
    Reply r;
    r.chunks = {{1, QByteArray("\xFF\x00zz\x0D", 5)}, {2, rig.wire.readReply(1, "2222")}};
    rig.line->replies.push_back(r);
    const QByteArray text = rig.read();
    EXPECT_EQ(rig.classify(text), kResponseOk);
    EXPECT_EQ(rig.com->ExtractData(text, 1), QByteArray("2222"));
}

TEST_P(SerialCommAllProtocols, SilenceCostsOneTimeoutAndIsNotRetried) {
    Rig rig(GetParam());
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read(); // retn 3
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(rig.classify(text), rig.wire.silentClass());
    EXPECT_EQ(rig.line->written.size(), 1);
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + kTimeout);
    EXPECT_TRUE(rig.com->lastExchange().silent);
}

TEST_P(SerialCommAllProtocols, CorruptedAnswerIsRetriedOnce) {
    Rig rig(GetParam());
    rig.line->replies.push_back(Reply::whole(rig.wire.corrupted(rig.wire.readReply(1, "7FFF"))));
    rig.line->replies.push_back(Reply::whole(rig.wire.readReply(1, "7FFF")));
    const QByteArray text = rig.read();
    EXPECT_EQ(decodeDataField(rig.com->ExtractData(text, 1)), 32767);
    EXPECT_EQ(rig.line->written.size(), 2);
    EXPECT_EQ(rig.line->written[0], rig.line->written[1]);
}

TEST_P(SerialCommAllProtocols, AlwaysCorruptedGivesChecksumOrCommunicationError) {
    Rig rig(GetParam());
    rig.line->responder = [&](const QByteArray&) {
        return Reply::whole(rig.wire.corrupted(rig.wire.readReply(1, "7FFF")));
    };
    const QByteArray text = rig.read();
    EXPECT_EQ(rig.classify(text), rig.wire.garbledClass());
    EXPECT_EQ(rig.line->written.size(), 3); // retn
    EXPECT_TRUE(rig.com->ExtractData(text, 1).isEmpty());
}

TEST_P(SerialCommAllProtocols, AnswerFromAnotherInstrument) {
    Rig rig(GetParam());
    rig.line->responder = [&](const QByteArray&) {
        return Reply::whole(rig.wire.readReply(2, "0001"));
    };
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read(1);
    if (GetParam() == kProtocolModbusAscii) {
        // Another station's frame is ignored; ours never comes, so it is silence.
        EXPECT_TRUE(text.isEmpty());
        EXPECT_EQ(rig.line->written.size(), 1);
        EXPECT_EQ(rig.line->clockMs() - start, kTimeout);
    } else {
        EXPECT_EQ(rig.classify(text), rig.wire.garbledClass());
        EXPECT_EQ(rig.line->written.size(), 3);
    }
    if (GetParam() != kProtocolKorvan)
        EXPECT_TRUE(text.isEmpty());
}

TEST_P(SerialCommAllProtocols, DeviceVanishingMidSequence) {
    Rig rig(GetParam());
    rig.line->replies.push_back(Reply::whole(rig.wire.readReply(1, "0001")));
    Reply cut = Reply::whole(rig.wire.readReply(1, "0002").left(4));
    cut.vanishAfter = true;
    rig.line->replies.push_back(cut);
    EXPECT_EQ(rig.classify(rig.read()), kResponseOk);
    EXPECT_TRUE(rig.read().isEmpty());
    EXPECT_TRUE(rig.com->lastExchange().deviceGone);
    const qint64 before = rig.line->clockMs();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(rig.read().isEmpty());
        EXPECT_TRUE(rig.com->lastExchange().deviceGone);
    }
    EXPECT_EQ(rig.line->clockMs(), before); // each remaining exchange fails at once
    EXPECT_EQ(rig.line->written.size(), 2);

    Rig other(GetParam()); // gone as the request is written
    Reply r;
    r.vanishOnWrite = true;
    other.line->replies.push_back(r);
    EXPECT_TRUE(other.read().isEmpty());
    EXPECT_TRUE(other.com->lastExchange().deviceGone);
    EXPECT_FALSE(other.com->isOpen());
}

INSTANTIATE_TEST_SUITE_P(Protocols, SerialCommAllProtocols,
                         ::testing::Values(kProtocolKorvan, kProtocolModbusAscii,
                                           kProtocolModbusRtu),
                         [](const auto& info) {
                             return info.param == kProtocolKorvan        ? "Korvan"
                                    : info.param == kProtocolModbusAscii ? "ModbusAscii"
                                                                         : "ModbusRtu";
                         });

TEST(SerialComm, NegativeAnswersAreFinal) {
    {
        Rig rig(kProtocolKorvan);
        const QByteArray covered = QByteArray("!  004401") + framing::kEtx;
        rig.line->responder = [&](const QByteArray&) {
            return Reply::whole(framing::kNak + covered + checksum::hex2(checksum::bcc(covered)));
        };
        EXPECT_EQ(rig.classify(rig.read()), kResponseNak);
        EXPECT_EQ(rig.line->written.size(), 1);
    }
    for (qint16 p : {kProtocolModbusAscii, kProtocolModbusRtu}) {
        Rig rig(p);
        const QByteArray msg = QByteArray::fromHex("018302");
        rig.line->responder = [&](const QByteArray&) {
            return Reply::whole(p == kProtocolModbusAscii ? framing::modbusAsciiFrame(msg)
                                                          : framing::modbusRtuFrame(msg));
        };
        const QByteArray text = rig.read();
        EXPECT_EQ(text.mid(3, 2), QByteArray("83"));
        EXPECT_EQ(rig.classify(text), kResponseCommError);
        EXPECT_EQ(rig.line->written.size(), 1);
    }
}

TEST(SerialComm, KorvanEscReplyIsRetried) {
    Rig rig(kProtocolKorvan);
    const QByteArray covered = QByteArray("!  0044") + framing::kEtx;
    rig.line->replies.push_back(
        Reply::whole(framing::kEsc + covered + checksum::hex2(checksum::bcc(covered))));
    rig.line->replies.push_back(Reply::whole(rig.wire.readReply(1, "0005")));
    EXPECT_EQ(rig.com->ExtractData(rig.read(), 1), QByteArray("0005"));
    EXPECT_EQ(rig.line->written.size(), 2);
}

TEST(SerialComm, RtuWaitsForAQuietLineBeforeSending) {
    Rig rig(kProtocolModbusRtu);
    for (int i = 1; i <= 10; ++i)
        rig.line->inject(i, "\x55"); // the tail of something still on the line
    rig.line->replies.push_back(Reply::whole(rig.wire.readReply(1, "0001")));
    const qint64 start = rig.line->clockMs();
    EXPECT_EQ(rig.classify(rig.read()), kResponseOk);
    ASSERT_EQ(rig.line->writeTimes.size(), 1);
    EXPECT_GE(rig.line->writeTimes[0], start + 10 + Rig::silenceMs());
}

TEST(SerialComm, RtuSilenceCountsFromTheLastByteReceived) {
    // 3.5 characters: 7E1 is 10 bits, 8E2 is 12; above 19200 bit/s a fixed 1.75 ms.
    EXPECT_EQ(SerialComm::rtuSilenceNs(9600, 10), 3645834);
    EXPECT_EQ(SerialComm::rtuSilenceNs(19200, 12), 2187500);
    EXPECT_EQ(SerialComm::rtuSilenceNs(38400, 10), 1750000);
    Rig rig(kProtocolModbusRtu);
    const auto replyAfter = [&](int delayMs) {
        rig.line->replies.push_back(Reply::whole(rig.wire.readReply(1, "0001"), delayMs));
    };
    replyAfter(1);
    ASSERT_EQ(rig.classify(rig.read()), kResponseOk);
    const qint64 lastByte = rig.line->clockMs();

    // Back to back: the next request waits out the silence from the answer's last byte.
    replyAfter(1);
    ASSERT_EQ(rig.classify(rig.read()), kResponseOk);
    EXPECT_EQ(rig.line->writeTimes[1], lastByte + Rig::silenceMs());

    // Part of it already passed: only the rest is waited.
    const qint64 secondLast = rig.line->clockMs();
    rig.line->read(2);
    replyAfter(1);
    ASSERT_EQ(rig.classify(rig.read()), kResponseOk);
    EXPECT_EQ(rig.line->writeTimes[2], secondLast + Rig::silenceMs());

    // Quiet for longer than the silence: sent at once.
    rig.line->read(50);
    const qint64 idle = rig.line->clockMs();
    replyAfter(1);
    ASSERT_EQ(rig.classify(rig.read()), kResponseOk);
    EXPECT_EQ(rig.line->writeTimes[3], idle);

    // A byte during the wait starts the silence again (the line rule).
    const qint64 fourthLast = rig.line->clockMs();
    rig.line->inject(2, "\x55");
    replyAfter(1);
    ASSERT_EQ(rig.classify(rig.read()), kResponseOk);
    EXPECT_EQ(rig.line->writeTimes[4], fourthLast + 2 + Rig::silenceMs());
}

TEST(SerialComm, OpenPortSettingsAndFailures) {
    auto t = std::make_unique<ScriptedTransport>();
    ScriptedTransport* line = t.get();
    SerialComm com(std::move(t), [](const QString& name) {
        return name.startsWith(u'/')
                   ? name
                   : (name == QLatin1String("COM2") ? QStringLiteral("/dev/x") : QString());
    });
    com.PortName = QStringLiteral("COM2");
    com.Rate = QStringLiteral("115200"); // any integer rate is accepted
    com.DataBits = QStringLiteral("7");
    com.StopBits = QStringLiteral("2");
    com.Parity = QStringLiteral("ODD");
    ASSERT_TRUE(com.OpenPort());
    const LineSettings& o = line->opened;
    EXPECT_EQ(std::tuple(o.device, o.baudRate, o.dataBits, o.stopBits, o.parity),
              std::tuple(QStringLiteral("/dev/x"), 115200, 7, 2, 'O'));

    com.PortName = QStringLiteral("COM3");
    EXPECT_FALSE(com.OpenPort());
    EXPECT_EQ(com.lastOpenError(), OpenError::NotFound);
    EXPECT_TRUE(com.lastOpenErrorText().contains(QStringLiteral("COM3")));

    com.PortName = QStringLiteral("/dev/ttyUSB7");
    line->failOpenWith = OpenError::PermissionDenied;
    line->failOpenText = QStringLiteral("add the user to the 'dialout' group");
    EXPECT_FALSE(com.OpenPort());
    EXPECT_EQ(com.lastOpenError(), OpenError::PermissionDenied);
    EXPECT_EQ(com.lastOpenErrorText(), line->failOpenText);
    EXPECT_EQ(com.lastDevice(), QStringLiteral("/dev/ttyUSB7"));
    QByteArray a("!"), s(" "), c(" "), i("0044"), d;
    qint16 retn = 3;
    EXPECT_TRUE(com.SendCommand(a, s, c, i, d, retn).isEmpty());
    EXPECT_TRUE(line->written.isEmpty());

    line->failOpenWith = OpenError::None;
    for (const char* bad : {"rate fast", "rate 0", "rate -9600", "parity MARK"}) {
        const QStringList kv = QString::fromLatin1(bad).split(' ');
        com.Rate = kv[0] == "rate" ? kv[1] : QStringLiteral("9600");
        com.Parity = kv[0] == "parity" ? kv[1] : QStringLiteral("ODD");
        EXPECT_FALSE(com.OpenPort()) << bad;
        EXPECT_EQ(com.lastOpenError(), OpenError::BadSettings) << bad;
    }
}
