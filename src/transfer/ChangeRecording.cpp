#include "transfer/ChangeRecording.h"

#include "comm/Classification.h"

#include <cctype>

namespace pmx {

namespace {

bool isHexPair(const QByteArray& text) {
    if (text.size() != 2)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

WriteOutcome writeOutcome(int result, const ExchangeRecord* exchange, const QByteArray& answer,
                          ProtocolNumber protocol, bool lost, bool broadcast) {
    if (lost)
        return {ChangeOutcome::Lost, {}, {}};
    if (broadcast)
        return {ChangeOutcome::Unconfirmed, {}, {}};
    if (result == kResponseOk)
        return {ChangeOutcome::Confirmed, {}, {}};
    if (exchange) {
        switch (exchange->outcome) {
        case ExchangeOutcome::Refused:
            return {ChangeOutcome::Refused, exchange->refusalCode, {}};
        case ExchangeOutcome::ChecksumError:
            return {ChangeOutcome::Damaged, {}, {}};
        case ExchangeOutcome::NoAnswer:
        case ExchangeOutcome::Stale:
            return {ChangeOutcome::NoAnswer, {}, {}};
        case ExchangeOutcome::DeviceLost:
            return {ChangeOutcome::Lost, {}, {}};
        default:
            break; // the answer says the rest
        }
    }
    if (answer.isEmpty())
        return {ChangeOutcome::NoAnswer, {}, {}};
    if (protocol == kProtocolKorvan) {
        if (result == kResponseNak) {
            // NAK, address, sub-address, command type, item (4), error code (2), ETX, BCC.
            const qsizetype etx = answer.indexOf('\x03');
            const QByteArray code = etx >= 2 ? answer.mid(etx - 2, 2) : QByteArray();
            return {ChangeOutcome::Refused,
                    isHexPair(code) ? QString::fromLatin1(code) : QString(),
                    {}};
        }
        return {ChangeOutcome::Damaged, {}, {}};
    }
    // Modbus as ASCII text: ":", address, function, data. An exception to the write is
    // function 86h with its exception code.
    if (answer.size() >= 7 && answer.mid(3, 2).toUpper() == "86") {
        const QByteArray code = answer.mid(5, 2);
        return {
            ChangeOutcome::Refused, isHexPair(code) ? QString::fromLatin1(code) : QString(), {}};
    }
    return {ChangeOutcome::Damaged, {}, {}};
}

} // namespace pmx
