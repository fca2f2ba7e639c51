// SerialComm on a scripted line with a virtual clock: what the pty tests cannot see,
// namely how many requests went out and how long each exchange waited.
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

QByteArray korvanFrame(char lead, const QByteArray& body) {
    const QByteArray covered = body + framing::kEtx;
    return lead + covered + checksum::hex2(checksum::bcc(covered));
}

struct Rig {
    explicit Rig(qint16 protocol) : protocol(protocol) {
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
    bool korvan() const { return protocol == kProtocolKorvan; }
    // A frame from instrument `inst`: the answer to a read of item 0044h with `hex`, or
    // with an empty `hex` a refusal (NAK / exception 02).
    QByteArray reply(int inst, const QByteArray& hex) const {
        if (korvan())
            return hex.isEmpty()
                       ? korvanFrame(framing::kNak, QByteArray(1, char(inst + 32)) + "  004401")
                       : korvanFrame(framing::kAck,
                                     QByteArray(1, char(inst + 32)) + "  0044" + hex);
        const QByteArray msg =
            QByteArray(1, char(inst)) +
            (hex.isEmpty() ? QByteArray("\x83\x02") : "\x03\x02" + QByteArray::fromHex(hex));
        return protocol == kProtocolModbusAscii ? framing::modbusAsciiFrame(msg)
                                                : framing::modbusRtuFrame(msg);
    }
    // Last checksum character (KORVAN), LRC digit (ASCII) or CRC byte (RTU) spoiled.
    QByteArray corrupted(const QByteArray& frame) const {
        QByteArray bad = frame;
        const qsizetype at = protocol == kProtocolModbusAscii ? bad.size() - 3 : bad.size() - 1;
        bad[at] =
            bad[at] == '0' ? '1' : char(protocol == kProtocolModbusRtu ? bad[at] ^ 0x5A : '0');
        return bad;
    }
    int garbled() const { return korvan() ? kResponseChecksum : kResponseCommError; }
    int silent() const { return korvan() ? kResponseNone : kResponseCommError; }

    // One read of item 0044h, through Sendcomm as the sequences do it (retn 3).
    QByteArray read(qint16 inst = 1) {
        QByteArray subadr, commod("03"), item("0044"), data;
        qint16 retn = 3;
        return Sendcomm(*com, inst, subadr, commod, item, data, retn);
    }
    int classify(const QByteArray& text) const { return classifyResponse(text, protocol, "03"); }
    // RTU's silence at 9600 bit/s, 7E1, in the whole milliseconds of the virtual clock.
    static qint64 silenceMs() { return (SerialComm::rtuSilenceNs(9600, 10) + 999999) / 1000000; }
    // Virtual time an exchange may take before its request goes out.
    qint64 lead() const { return protocol == kProtocolModbusRtu ? silenceMs() : 0; }

    qint16 protocol;
    ScriptedTransport* line;
    std::unique_ptr<SerialComm> com;
};

class SerialCommAllProtocols : public ::testing::TestWithParam<qint16> {};

} // namespace

TEST_P(SerialCommAllProtocols, FrameInPiecesAfterStaleInputAndGarbage) {
    Rig rig(GetParam());
    rig.line->inject(0, rig.reply(1, "1111")); // a late answer to an earlier request
    Reply r = Reply::pieces(rig.reply(1, "FFFF"), 1, 1);
    r.chunks.prepend({1, QByteArray("\xFF\x00zz\x0D", 5)});
    rig.line->replies.push_back(r);
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read();
    EXPECT_EQ(text, rig.korvan() ? rig.reply(1, "FFFF")
                                 : framing::modbusAsciiFrame(QByteArray::fromHex("010302FFFF")));
    EXPECT_EQ(decodeDataField(rig.com->ExtractData(text, 1)), -1);
    // One byte a millisecond: done as soon as the last byte came, not at the time-out.
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + 1 + rig.reply(1, "FFFF").size());
}

TEST_P(SerialCommAllProtocols, SilenceAndRefusalsAreNotRetried) {
    Rig rig(GetParam());
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read();
    EXPECT_EQ(rig.classify(text), rig.silent());
    EXPECT_EQ(rig.line->clockMs() - start, rig.lead() + kTimeout); // one time-out only
    EXPECT_TRUE(rig.com->lastExchange().silent);

    rig.line->responder = [&](const QByteArray&) { return Reply::whole(rig.reply(1, "")); };
    EXPECT_EQ(rig.classify(rig.read()), rig.korvan() ? kResponseNak : kResponseCommError);
    EXPECT_EQ(rig.line->written.size(), 2);
}

TEST_P(SerialCommAllProtocols, CorruptedAnswerIsRetriedUpToRetn) {
    Rig rig(GetParam());
    rig.line->replies.push_back(Reply::whole(rig.corrupted(rig.reply(1, "7FFF"))));
    rig.line->replies.push_back(Reply::whole(rig.reply(1, "7FFF")));
    EXPECT_EQ(decodeDataField(rig.com->ExtractData(rig.read(), 1)), 32767);
    ASSERT_EQ(rig.line->written.size(), 2);
    EXPECT_EQ(rig.line->written[0], rig.line->written[1]);

    rig.line->responder = [&](const QByteArray&) {
        return Reply::whole(rig.corrupted(rig.reply(1, "7FFF")));
    };
    const QByteArray text = rig.read();
    EXPECT_EQ(rig.classify(text), rig.garbled());
    EXPECT_EQ(rig.line->written.size(), 2 + 3);
    EXPECT_TRUE(rig.com->ExtractData(text, 1).isEmpty());
}

TEST_P(SerialCommAllProtocols, AnswerFromAnotherInstrument) {
    Rig rig(GetParam());
    rig.line->responder = [&](const QByteArray&) { return Reply::whole(rig.reply(2, "0001")); };
    const qint64 start = rig.line->clockMs();
    const QByteArray text = rig.read(1);
    if (GetParam() == kProtocolModbusAscii) {
        // Another station's frame is ignored; ours never comes, so it is silence.
        EXPECT_EQ(rig.line->written.size(), 1);
        EXPECT_EQ(rig.line->clockMs() - start, kTimeout);
    } else {
        EXPECT_EQ(rig.classify(text), rig.garbled());
        EXPECT_EQ(rig.line->written.size(), 3);
    }
    EXPECT_EQ(text.isEmpty(), !rig.korvan());
}

TEST_P(SerialCommAllProtocols, DeviceVanishingMidFrameOrOnWrite) {
    Rig rig(GetParam());
    Reply cut = Reply::whole(rig.reply(1, "0002").left(4));
    cut.vanishAfter = true;
    rig.line->replies.push_back(cut);
    EXPECT_TRUE(rig.read().isEmpty());
    EXPECT_TRUE(rig.com->lastExchange().deviceGone);
    const qint64 before = rig.line->clockMs();
    EXPECT_TRUE(rig.read().isEmpty());
    EXPECT_TRUE(rig.com->lastExchange().deviceGone);
    EXPECT_EQ(rig.line->clockMs(), before); // later exchanges fail at once
    EXPECT_EQ(rig.line->written.size(), 1);

    Rig other(GetParam());
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

TEST(SerialComm, KorvanEscReplyIsRetried) {
    Rig rig(kProtocolKorvan);
    rig.line->replies.push_back(Reply::whole(korvanFrame(framing::kEsc, "!  0044")));
    rig.line->replies.push_back(Reply::whole(rig.reply(1, "0005")));
    EXPECT_EQ(rig.com->ExtractData(rig.read(), 1), QByteArray("0005"));
    EXPECT_EQ(rig.line->written.size(), 2);
}

TEST(SerialComm, RtuSilenceCountsFromTheLastByteReceived) {
    // 3.5 characters: 7E1 is 10 bits, 8E2 is 12; above 19200 bit/s a fixed 1.75 ms.
    EXPECT_EQ(SerialComm::rtuSilenceNs(9600, 10), 3645834);
    EXPECT_EQ(SerialComm::rtuSilenceNs(19200, 12), 2187500);
    EXPECT_EQ(SerialComm::rtuSilenceNs(38400, 10), 1750000);
    Rig rig(kProtocolModbusRtu);
    // One read; returns when its request went out.
    const auto exchange = [&] {
        rig.line->replies.push_back(Reply::whole(rig.reply(1, "0001")));
        EXPECT_EQ(rig.classify(rig.read()), kResponseOk);
        return rig.line->writeTimes.last();
    };
    exchange();
    // Back to back: the next request waits out the silence from the answer's last byte.
    qint64 lastByte = rig.line->clockMs();
    EXPECT_EQ(exchange(), lastByte + Rig::silenceMs());
    // Part of it already passed: only the rest is waited.
    lastByte = rig.line->clockMs();
    rig.line->read(2);
    EXPECT_EQ(exchange(), lastByte + Rig::silenceMs());
    // Quiet for longer than the silence: sent at once.
    rig.line->read(50);
    const qint64 idle = rig.line->clockMs();
    EXPECT_EQ(exchange(), idle);
    // A byte during the wait starts the silence again.
    lastByte = rig.line->clockMs();
    rig.line->inject(2, "\x55");
    EXPECT_EQ(exchange(), lastByte + 2 + Rig::silenceMs());
}

TEST(SerialComm, OpenPortSettingsAndFailures) {
    auto t = std::make_unique<ScriptedTransport>();
    ScriptedTransport* line = t.get();
    SerialComm com(std::move(t), [](const QString& name) {
        return name.startsWith(u'/') ? name : name == "COM2" ? QStringLiteral("/dev/x") : QString();
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
    for (const auto& [rate, parity] :
         {std::pair("fast", "ODD"), {"0", "ODD"}, {"-9600", "ODD"}, {"9600", "MARK"}}) {
        com.Rate = QString::fromLatin1(rate);
        com.Parity = QString::fromLatin1(parity);
        EXPECT_FALSE(com.OpenPort()) << rate << parity;
        EXPECT_EQ(com.lastOpenError(), OpenError::BadSettings) << rate << parity;
    }
}
