#pragma once
// Serving the line: pacing answers as a real line would, hang-ups, and the signals that
// stop the program or hang up.
#include "SimChaos.h"
#include "SimLine.h"
#include "SimOptions.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <csignal>
#include <deque>
#include <memory>
#include <time.h>
#include <vector>

namespace pmx::sim {

using Nanos = long long;
Nanos now();
timespec toTimespec(Nanos n);

// SIGTERM, SIGINT and SIGHUP stop, SIGUSR1 hangs up; they are blocked except while
// waiting (waitMask), so that none races a wait.
void installSignals();
sigset_t waitMask();
bool stopRequested();
// True once after a SIGUSR1 (taken: the next call is false).
bool takeHangupRequest();
// The device is away for `ms`; false when a stop signal came meanwhile.
bool stayAway(int ms);

// One answer on its way out. Without pacing every byte is due at `start`; with pacing
// byte k is due when its stop bit would end, at start + (k + 1) character times.
struct Outgoing {
    QByteArray bytes;
    qsizetype sent = 0;
    Nanos start = 0;
};

// Closed: the TCP client went away (the next one may come).
enum class End { Stopped, HungUp, Failed, Closed };

class Server {
  public:
    Server(Line& line, const Config& config, QFile* log)
        : m_line(line), m_config(config), m_log(log),
          m_requestsLeft(config.hangupAfter > 0 ? config.hangupAfter : -1) {
        m_charNanos = config.baud > 0 ? Nanos(1e9 * config.bitsPerChar / config.baud) : 0;
        // Modbus RTU frame end: 3.5 characters, or the fixed 1.75 ms of fast lines.
        m_idleNanos = m_charNanos > 0 ? std::max<Nanos>(m_charNanos * 7 / 2, 1750000) : 1750000;
        if (config.chaos)
            m_chaos = std::make_unique<Chaos>(config.chaosSeed, config.chaosTimeoutMs,
                                              config.protocol, line.at(0).instrumentNo());
    }

    // Writes the --dump files when the memory changed since they were last written; false
    // with a message when one cannot be written.
    bool dumpMemory();

    // Serves one pseudo-terminal (its master and our own descriptor of its slave) until a
    // stop signal, a hang-up or an error.
    End runPty(int master, int slave) { return run(master, slave); }
    // Serves one TCP client until it closes, a stop signal, a hang-up or an error.
    End runClient(int socket) { return run(socket, -1); }
    // Why the last run() hung up, for the message.
    QString hangupReason() const { return m_hangupReason; }

  private:
    void received(const QByteArray& bytes, Nanos t);
    void handle(const std::vector<Reply>& heard, Nanos t);
    bool writeDue(int master, Nanos t); // false on a write error other than EAGAIN
    Nanos nextDeadline() const;         // -1: none
    Nanos dueTime(const Outgoing& o) const {
        return m_charNanos > 0 ? o.start + Nanos(o.sent + 1) * m_charNanos : o.start;
    }
    bool readyToHangUp(int fd, int slave, Nanos t);
    // slave < 0: fd is a connected socket.
    End run(int fd, int slave);
    // Bytes for the line at once, ahead of answers not yet begun (the adapter's echo).
    void sendAtOnce(const QByteArray& bytes, Nanos t);

    Line& m_line;
    const Config& m_config;
    QFile* m_log;
    Nanos m_charNanos = 0;
    Nanos m_idleNanos = 0;
    Nanos m_firstByte = 0; // arrival of the first byte of the request being received
    Nanos m_lastByte = 0;  // arrival of the last byte received
    Nanos m_lineFree = 0;  // end of the last answer scheduled
    std::deque<Outgoing> m_out;
    int m_requestsLeft;       // before the --hangup-after hang-up; -1: none (any more)
    bool m_hangupDue = false; // the count ran out: hang up once the answers are read
    Nanos m_drainFrom = 0;    // when the last answer had gone out
    QString m_hangupReason;
    int m_slave = -1;                         // the pty's slave: the client's line settings
    LineMatch m_lineMatch = LineMatch::Match; // of the request being received
    QString m_clientLine;
    std::unique_ptr<Chaos> m_chaos;
    std::vector<std::array<std::int16_t, kItemCount>> m_dumped; // the memory last dumped
    bool m_dumpedOnce = false;
    // --live: each instrument's values of its moving items when serving began, and when.
    std::vector<std::vector<std::int16_t>> m_liveCentres;
    Nanos m_liveStart = 0;
    void moveLiveItems(Nanos t);
};

} // namespace pmx::sim
