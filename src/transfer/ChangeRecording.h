#pragma once
// What the write sequences need to record each write (Sequences.cpp): the log in use and
// what an answer says of the write it answers.
#include "comm/Exchange.h"
#include "transfer/ChangeLog.h"
#include "transfer/Sequences.h"

namespace pmx {

inline ChangeLog& changesOf(TransferContext& ctx) {
    return ctx.changes ? *ctx.changes : ChangeLog::standard();
}

struct WriteOutcome {
    ChangeOutcome outcome = ChangeOutcome::NoAnswer;
    QString code;                // Refused: the instrument's code
    std::optional<qint16> holds; // NotKept: the value read back
};

// The outcome of one write from its exchange; `lost` when the device went away with it.
WriteOutcome writeOutcome(const ExchangeResult& result, bool lost);

} // namespace pmx
