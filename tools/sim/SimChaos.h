#pragma once
// A line with every fault at once, decided by a seed, so that any run can be made again
// exactly: answers late by 0 to 10 time-outs, dropped, repeated, cut into single bytes,
// followed by junk, or preceded by another instrument's answer; and, for the whole line,
// an adapter that sends every request back. Pure logic: the server applies it in real
// time, the tests on a virtual clock.
#include "SimInstrument.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace pmx::sim {

// Bytes for the line, this long after the answer would have gone out (or, for the
// echo, after the request came).
struct ChaosPiece {
    int delayMs = 0;
    QByteArray bytes;
};

class Chaos {
  public:
    // `timeoutMs`: the client's time-out, the unit of lateness; `instrumentNo`: the
    // instrument answering (its address is kept out of the junk).
    Chaos(std::uint64_t seed, int timeoutMs, Protocol protocol, int instrumentNo);

    // Whether the line sends every request back as it goes out (decided once, by the seed).
    bool echoes() const { return m_echoes; }
    // The instrument's answer as the line delivers it, in pieces; none when it is dropped.
    std::vector<ChaosPiece> deliver(const QByteArray& answer);
    // What happened to the last answer ("late 812 ms, split"), for the log.
    QString lastFaults() const { return m_last; }

    struct Counts {
        int answers = 0, clean = 0, late = 0, dropped = 0, repeated = 0, split = 0, junk = 0,
            otherInstrument = 0;
    };
    const Counts& counts() const { return m_counts; }

    // The answer `answer` as another instrument on the line would send it.
    static QByteArray fromOtherInstrument(Protocol protocol, const QByteArray& answer, int otherNo);

  private:
    std::uint64_t next();
    // A whole number from 0 to n - 1.
    int below(int n) { return int(next() % std::uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }
    QByteArray junk();

    std::uint64_t m_state;
    int m_timeoutMs;
    Protocol m_protocol;
    int m_instrumentNo;
    bool m_echoes = false;
    QString m_last;
    Counts m_counts;
};

} // namespace pmx::sim
