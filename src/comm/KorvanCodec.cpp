#include "comm/Classification.h"
#include "comm/Codec.h"
#include "comm/CommandFields.h"

namespace pmx {

namespace {

// The character protocol: one address character per instrument, answers that repeat the
// command type and item they answer, an ESC reply when the instrument got the request
// garbled. No broadcast and no rules about quiet on the line.
class KorvanCodec final : public Codec {
  public:
    ProtocolNumber protocol() const override { return kProtocolKorvan; }

    QByteArray frame(const Request& r) const override {
        return framing::korvanRequest(korvanAddress(r.instrument), QByteArray(" "),
                                      korvanCommandType(r.command), r.item, r.data);
    }
    qsizetype longestAnswer(const QByteArray& frame) const override {
        return framing::maxResponseLength(kProtocolKorvan, frame);
    }
    std::optional<framing::ResponseAssembler>
    answerAssembler(const QByteArray& frame) const override {
        return framing::ResponseAssembler::forRequest(kProtocolKorvan, frame);
    }
    std::optional<framing::ResponseAssembler>
    lineAssembler(qint16 instrument, framing::AnswerLedger* ledger) const override {
        return framing::ResponseAssembler::forLine(kProtocolKorvan, korvanAddress(instrument)[0],
                                                   ledger);
    }
    int stationOf(const QByteArray& frame) const override {
        return frame.size() >= 2 && frame[0] == framing::kStx ? quint8(frame[1]) - 32 : -1;
    }

    ExchangeOutcome judge(const QByteArray& text, const QByteArray& command,
                          QString* refusalCode) const override {
        Q_UNUSED(command); // the assembler matched command type and item already
        if (text.isEmpty())
            return ExchangeOutcome::NoAnswer;
        switch (text.at(0)) {
        case framing::kAck:
            return ExchangeOutcome::Good;
        case framing::kNak:
            if (refusalCode)
                *refusalCode = QString::fromLatin1(text.mid(8, 2));
            return ExchangeOutcome::Refused;
        case framing::kEsc:
            return ExchangeOutcome::ChecksumError;
        default:
            return ExchangeOutcome::NoAnswer; // no frame of this protocol at all
        }
    }
    QByteArray extractData(const QByteArray& text, qint32 n) const override {
        return text.startsWith(framing::kAck) ? framing::extractData(text, n) : QByteArray();
    }
    int messageId(ExchangeOutcome outcome) const override {
        switch (outcome) {
        case ExchangeOutcome::Good:
        case ExchangeOutcome::VerifyMismatch:
        case ExchangeOutcome::Broadcast:
            return kResponseOk;
        case ExchangeOutcome::Refused:
            return kResponseNak;
        case ExchangeOutcome::ChecksumError:
            return kResponseChecksum;
        case ExchangeOutcome::NoAnswer:
        case ExchangeOutcome::Stale:
        case ExchangeOutcome::DeviceLost:
            break;
        }
        return kResponseNone;
    }
    Framings framings() const override {
        // The default 7E1 first.
        constexpr Parity N = Parity::None, E = Parity::Even, O = Parity::Odd;
        return {{{7, E, 1},
                 {8, N, 1},
                 {7, O, 1},
                 {8, E, 1},
                 {7, N, 2},
                 {8, N, 2},
                 {7, E, 2},
                 {8, O, 1},
                 {7, O, 2},
                 {8, E, 2},
                 {7, N, 1},
                 {8, O, 2}},
                2};
    }
    bool asksAgain(const QByteArray& text) const override { return text.startsWith(framing::kEsc); }
};

} // namespace

const Codec& korvanCodec() {
    static const KorvanCodec codec;
    return codec;
}

} // namespace pmx
