#pragma once
// What the write sequences need to record each write (Sequences.cpp): the log in use and
// what an answer says of the write it answers.
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

// The outcome of one write from its exchange: `result` the response class (or the
// sequence's own outcomes, given as `lost` and `broadcast`), `exchange` the serial
// object's record of it when one came (it holds a refusal's code), `answer` the response
// text.
WriteOutcome writeOutcome(int result, const ExchangeRecord* exchange, const QByteArray& answer,
                          ProtocolNumber protocol, bool lost, bool broadcast);

// Keeps the record of the last exchange made while it is added to a communication object.
class LastExchange : public ExchangeObserver {
  public:
    explicit LastExchange(CommObject& com) : m_com(com) { m_com.addExchangeObserver(this); }
    ~LastExchange() override { m_com.removeExchangeObserver(this); }
    LastExchange(const LastExchange&) = delete;
    LastExchange& operator=(const LastExchange&) = delete;
    void exchanged(const ExchangeRecord& record) override { m_last = record; }
    const ExchangeRecord* last() const { return m_last ? &*m_last : nullptr; }

  private:
    CommObject& m_com;
    std::optional<ExchangeRecord> m_last;
};

} // namespace pmx
