#include "comm/Codec.h"

namespace pmx {

const Codec& korvanCodec();
const Codec& modbusAsciiCodec();
const Codec& modbusRtuCodec();

bool Codec::isBroadcast(const QByteArray& frame) const {
    const int station = stationOf(frame);
    return station >= 0 && broadcastsTo(qint16(station));
}

std::optional<framing::AnswerLedger::Window>
Codec::provableWindow(const framing::AnswerLedger& ledger, const QByteArray& frame,
                      int maxCount) const {
    Q_UNUSED(ledger);
    Q_UNUSED(frame);
    Q_UNUSED(maxCount);
    return std::nullopt;
}

QByteArray Codec::windowFrame(const QByteArray& frame,
                              const framing::AnswerLedger::Window& window) const {
    Q_UNUSED(window);
    return frame;
}

QByteArray Codec::narrowAnswer(const QByteArray& text, int offset, int count) const {
    Q_UNUSED(offset);
    Q_UNUSED(count);
    return text;
}

int Codec::readCount(const QByteArray& frame) const {
    Q_UNUSED(frame);
    return 0;
}

bool Codec::refusesCount(const QByteArray& text) const {
    Q_UNUSED(text);
    return false;
}

bool Codec::isRefusal(const QByteArray& text) const {
    QString code;
    return judge(text, {}, &code) == ExchangeOutcome::Refused;
}

QByteArray Codec::echoProbe(const QByteArray& write) const {
    Q_UNUSED(write);
    return {};
}

const Codec* codecFor(ProtocolNumber protocol) {
    switch (protocol) {
    case kProtocolKorvan:
        return &korvanCodec();
    case kProtocolModbusAscii:
        return &modbusAsciiCodec();
    case kProtocolModbusRtu:
        return &modbusRtuCodec();
    }
    return nullptr;
}

} // namespace pmx
