#include "transfer/ChangeRecording.h"

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

WriteOutcome writeOutcome(const ExchangeResult& result, bool lost) {
    if (lost)
        return {ChangeOutcome::Lost, {}, {}};
    switch (result.outcome) {
    case ExchangeOutcome::Good:
        return {ChangeOutcome::Confirmed, {}, {}};
    case ExchangeOutcome::Broadcast:
        return {ChangeOutcome::Unconfirmed, {}, {}};
    case ExchangeOutcome::Refused:
        return {ChangeOutcome::Refused,
                isHexPair(result.refusalCode.toLatin1()) ? result.refusalCode : QString(),
                {}};
    case ExchangeOutcome::NoAnswer:
    case ExchangeOutcome::Stale:
        return {ChangeOutcome::NoAnswer, {}, {}};
    case ExchangeOutcome::DeviceLost:
        return {ChangeOutcome::Lost, {}, {}};
    case ExchangeOutcome::ChecksumError:
    case ExchangeOutcome::VerifyMismatch:
        break;
    }
    return {ChangeOutcome::Damaged, {}, {}};
}

} // namespace pmx
