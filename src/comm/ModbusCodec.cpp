#include "comm/Classification.h"
#include "comm/Codec.h"
#include "comm/CommandFields.h"
#include "model/ItemTable.h"

#include <algorithm>
#include <cmath>

namespace pmx {

namespace {

// What both Modbus framings share: a station byte, a function code, register reads that
// name no register in their answers (so a miss leaves the line owing an answer, and a read
// is proven by asking a window of registers with a count nobody else used), exceptions,
// broadcasts to station 0. Answer texts are the ASCII form of the message in both.
class ModbusCodec : public Codec {
  public:
    QByteArray frame(const Request& r) const override {
        QByteArray registers = r.item;
        if (r.isRead()) // start address and quantity of registers
            registers += QByteArray::number(r.count, 16).rightJustified(4, '0').toUpper();
        const auto message =
            framing::modbusMessage(modbusAddress(r.instrument), r.command, registers, r.data);
        return message ? encode(*message) : QByteArray();
    }
    qsizetype longestAnswer(const QByteArray& frame) const override {
        return framing::maxResponseLength(protocol(), frame);
    }
    std::optional<framing::ResponseAssembler>
    answerAssembler(const QByteArray& frame) const override {
        return framing::ResponseAssembler::forRequest(protocol(), frame);
    }
    std::optional<framing::ResponseAssembler>
    lineAssembler(qint16 instrument, framing::AnswerLedger* ledger) const override {
        const QByteArray station = QByteArray::fromHex(modbusAddress(instrument));
        if (station.isEmpty())
            return std::nullopt;
        return framing::ResponseAssembler::forLine(protocol(), station[0], ledger);
    }
    int stationOf(const QByteArray& frame) const override {
        const QByteArray m = framing::requestMessage(protocol(), frame);
        return m.isEmpty() ? -1 : quint8(m[0]);
    }

    ExchangeOutcome judge(const QByteArray& text, const QByteArray& command,
                          QString* refusalCode) const override {
        // ":" + station, function, data as hex pairs + LRC + CR LF.
        if (text.isEmpty())
            return ExchangeOutcome::NoAnswer;
        if (text.size() < 5)
            return ExchangeOutcome::ChecksumError;
        const QByteArray function = text.mid(3, 2);
        if (!command.isEmpty() && function == command)
            return ExchangeOutcome::Good;
        bool ok = false;
        const int code = function.toInt(&ok, 16);
        if (ok && (code & 0x80)) {
            if (refusalCode)
                *refusalCode = QString::fromLatin1(text.mid(5, 2));
            return ExchangeOutcome::Refused;
        }
        return ExchangeOutcome::ChecksumError;
    }
    QByteArray extractData(const QByteArray& text, qint32 n) const override {
        return text.startsWith(':') ? framing::extractData(text, n) : QByteArray();
    }
    int messageId(ExchangeOutcome outcome) const override {
        // One message for every failure: communication error or refusal.
        switch (outcome) {
        case ExchangeOutcome::Good:
        case ExchangeOutcome::VerifyMismatch:
        case ExchangeOutcome::Broadcast:
            return kResponseOk;
        default:
            return kResponseCommError;
        }
    }

    bool broadcastsTo(qint16 instrument) const override { return instrument == 0; }
    bool waitsForQuietLine() const override { return true; }
    bool missLeavesAnswerOwed() const override { return true; }

    std::optional<framing::AnswerLedger::Window> provableWindow(const framing::AnswerLedger& ledger,
                                                                const QByteArray& frame,
                                                                int maxCount) const override {
        const QByteArray m = framing::requestMessage(protocol(), frame);
        if (m.size() != 6 || quint8(m[1]) != 0x03)
            return std::nullopt;
        const int start = (quint8(m[2]) << 8) | quint8(m[3]);
        const int count = (quint8(m[4]) << 8) | quint8(m[5]);
        return ledger.provableWindow(m[0], start, count, maxCount, kItemCount);
    }
    QByteArray windowFrame(const QByteArray& frame,
                           const framing::AnswerLedger::Window& window) const override {
        const QByteArray m = framing::requestMessage(protocol(), frame);
        if (m.isEmpty())
            return frame;
        return framing::modbusReadFrame(protocol(), m[0], window.start, window.count);
    }
    QByteArray narrowAnswer(const QByteArray& text, int offset, int count) const override {
        return framing::narrowReadAnswer(text, offset, count);
    }
    int readCount(const QByteArray& frame) const override {
        const QByteArray m = framing::requestMessage(protocol(), frame);
        return m.size() == 6 && quint8(m[1]) == 0x03 ? (quint8(m[4]) << 8) | quint8(m[5]) : 0;
    }
    bool refusesCount(const QByteArray& text) const override {
        // Exception 03 (illegal data value) is how a read's quantity is refused; exception
        // 02 names an address, so a refused span says nothing of the count.
        return text.mid(3, 4) == "8303";
    }
    QByteArray echoProbe(const QByteArray& write) const override {
        const QByteArray m = framing::requestMessage(protocol(), write);
        if (m.size() != 6 || quint8(m[1]) != 0x06)
            return {};
        const int reg = (quint8(m[2]) << 8) | quint8(m[3]);
        return framing::modbusReadFrame(protocol(), m[0], reg, 1);
    }

  protected:
    virtual QByteArray encode(const QByteArray& message) const = 0;
};

constexpr Parity N = Parity::None, E = Parity::Even, O = Parity::Odd;

class ModbusAsciiCodec final : public ModbusCodec {
  public:
    ProtocolNumber protocol() const override { return kProtocolModbusAscii; }
    Framings framings() const override {
        // The serial line default 7E1, with two stop bits when there is no parity.
        return {{{7, E, 1},
                 {7, N, 2},
                 {7, O, 1},
                 {8, N, 1},
                 {8, E, 1},
                 {8, N, 2},
                 {7, E, 2},
                 {7, O, 2},
                 {7, N, 1},
                 {8, O, 1},
                 {8, E, 2},
                 {8, O, 2}},
                2};
    }

  protected:
    QByteArray encode(const QByteArray& message) const override {
        return framing::modbusAsciiFrame(message);
    }
};

class ModbusRtuCodec final : public ModbusCodec {
  public:
    ProtocolNumber protocol() const override { return kProtocolModbusRtu; }
    Framings framings() const override {
        // The serial line default 8E1, 8N2 without parity, and the 8N1 of many instruments.
        return {{{8, E, 1}, {8, N, 1}, {8, N, 2}, {8, O, 1}, {8, E, 2}, {8, O, 2}}, 3};
    }
    // 3.5 characters of `bitsPerChar` bits; fixed at 1.75 ms above 19200 bit/s as the serial
    // line protocol recommends.
    qint64 frameGapNs(qint32 baudRate, int bitsPerChar) const override {
        if (baudRate <= 0 || baudRate > 19200)
            return 1750000;
        return qint64(std::ceil(3.5 * std::max(bitsPerChar, 1) * 1e9 / baudRate));
    }

  protected:
    QByteArray encode(const QByteArray& message) const override {
        // Only functions whose answers can be delimited by their content.
        if (message.size() < 2 || !framing::rtuFunctionSupported(quint8(message[1])))
            return {};
        return framing::modbusRtuFrame(message);
    }
};

} // namespace

const Codec& modbusAsciiCodec() {
    static const ModbusAsciiCodec codec;
    return codec;
}

const Codec& modbusRtuCodec() {
    static const ModbusRtuCodec codec;
    return codec;
}

} // namespace pmx
