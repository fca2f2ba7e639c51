#pragma once
// Several virtual instruments sharing one line, as instruments on one RS-485 line do:
// every instrument hears every request, the one addressed answers, the others keep
// quiet; a Modbus broadcast is carried out by all and answered by none.
#include "SimInstrument.h"
#include "SimOptions.h"

#include <memory>
#include <vector>

namespace pmx::sim {

class Line {
  public:
    // One instrument per number, in the order given (at least one).
    Line(Protocol protocol, const std::vector<int>& instrumentNos);

    Protocol protocol() const { return m_protocol; }
    int size() const { return int(m_instruments.size()); }
    Instrument& at(int k) { return *m_instruments.at(std::size_t(k)); }
    const Instrument& at(int k) const { return *m_instruments.at(std::size_t(k)); }
    // The instrument of that number, or null when none on the line has it.
    Instrument* find(int instrumentNo);

    // As Instrument::feed and lineIdle, for the whole line: one Reply per request (the
    // addressed instrument's; with several instruments its log line names it as
    // "PROTO@N"), one per run of bytes dropped.
    std::vector<Reply> feed(const QByteArray& bytes);
    std::vector<Reply> lineIdle();
    int pendingBytes() const { return m_instruments.front()->pendingBytes(); }
    void discardPending();

    // "instrument 3" or "instruments 1, 3, 5" for the start-up message.
    QString describe() const;

  private:
    // Every instrument delimits the same bytes alike, so the k-th replies of all of them
    // belong to the same request.
    std::vector<Reply> merge(std::vector<std::vector<Reply>> perInstrument) const;

    Protocol m_protocol;
    std::vector<std::unique_ptr<Instrument>> m_instruments;
};

// Sets every instrument of the line up as the options say: memory (--values, a "%n" in the
// path giving each instrument its own file), item names, faults, block limits, silence.
// False with *error when a file cannot be read.
bool setUpLine(const Config& config, Line& line, QString* error);

} // namespace pmx::sim
