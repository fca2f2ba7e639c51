#include "SimServer.h"

#include "SimPty.h"

#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pmx::sim {

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_hangup = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

extern "C" void onHangupSignal(int) {
    g_hangup = 1;
}

} // namespace

// The signals we act on are blocked except while waiting, so none races a wait.
sigset_t waitMask() {
    sigset_t unblocked;
    sigprocmask(SIG_SETMASK, nullptr, &unblocked);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigdelset(&unblocked, s);
    return unblocked;
}

Nanos now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

timespec toTimespec(Nanos n) {
    timespec ts{};
    ts.tv_sec = time_t(n / 1000000000LL);
    ts.tv_nsec = long(n % 1000000000LL);
    return ts;
}

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = onHangupSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken only inside ppoll, so a stop or hang-up request never races the wait.
    sigset_t block;
    sigemptyset(&block);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&block, s);
    sigprocmask(SIG_BLOCK, &block, nullptr);
}

bool stopRequested() {
    return g_stop != 0;
}

bool takeHangupRequest() {
    const bool asked = g_hangup != 0;
    g_hangup = 0;
    return asked;
}

bool stayAway(int ms) {
    const sigset_t unblocked = waitMask();
    const Nanos until = now() + Nanos(ms) * 1000000;
    for (Nanos t = now(); !g_stop && t < until; t = now()) {
        const timespec timeout = toTimespec(until - t);
        ppoll(nullptr, 0, &timeout, &unblocked);
    }
    // A SIGUSR1 while away has nothing to hang up.
    g_hangup = 0;
    return !g_stop;
}

void Server::sendAtOnce(const QByteArray& bytes, Nanos t) {
    // Due at once even when the line is paced; an answer already going out is not cut.
    Outgoing echo{bytes, 0, t - Nanos(bytes.size()) * m_charNanos};
    auto at = m_out.begin();
    if (at != m_out.end() && at->sent > 0)
        ++at;
    m_out.insert(at, echo);
}

bool Server::dumpMemory() {
    if (m_config.dumpFile.isEmpty())
        return true;
    m_dumped.resize(std::size_t(m_line.size()));
    for (int k = 0; k < m_line.size(); ++k) {
        const Instrument& instrument = m_line.at(k);
        std::array<std::int16_t, kItemCount> memory{};
        for (int i = 0; i < kItemCount; ++i)
            memory[std::size_t(i)] = instrument.value(i);
        if (m_dumpedOnce && memory == m_dumped[std::size_t(k)])
            continue;
        QString path = m_config.dumpFile;
        path.replace(QLatin1String("%n"), QString::number(instrument.instrumentNo()));
        QByteArray text;
        for (int i = 0; i < kItemCount; ++i)
            text += QByteArray::number(i, 16).rightJustified(4, '0').toUpper() + '=' +
                    QByteArray::number(memory[std::size_t(i)]) + '\n';
        // Whole or not at all, so that a reader never sees half of it.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
            std::fprintf(stderr, "pmx31570a-sim: --dump %s: %s\n", qPrintable(path),
                         qPrintable(file.errorString()));
            return false;
        }
        m_dumped[std::size_t(k)] = memory;
    }
    m_dumpedOnce = true;
    return true;
}

// Moving items take the value of their motion at the time a request comes in; a value
// written to one is soon overtaken, as on an instrument that measures.
void Server::moveLiveItems(Nanos t) {
    if (m_config.live.empty())
        return;
    if (m_liveCentres.empty()) {
        m_liveStart = t;
        for (int k = 0; k < m_line.size(); ++k) {
            std::vector<std::int16_t> centres;
            for (const LiveMotion& m : m_config.live)
                centres.push_back(m_line.at(k).value(m.item));
            m_liveCentres.push_back(centres);
        }
    }
    const double seconds = double(t - m_liveStart) / 1e9;
    for (int k = 0; k < m_line.size(); ++k)
        for (std::size_t j = 0; j < m_config.live.size(); ++j)
            m_line.at(k).setValue(
                m_config.live[j].item,
                liveValue(m_config.live[j], m_liveCentres[std::size_t(k)][j], seconds));
}

void Server::received(const QByteArray& bytes, Nanos t) {
    int rate = 0, stopBits = 0;
    m_lineMatch = m_config.line.set && clientLine(m_slave, &rate, &stopBits)
                      ? matchLine(m_config.line, rate, stopBits)
                      : LineMatch::Match;
    m_clientLine = clientLineText(rate, stopBits);
    // A two-wire adapter hands every byte sent straight back, at the client's own rate.
    if (m_config.echo || (m_chaos && m_chaos->echoes()))
        sendAtOnce(bytes, t);
    if (m_lineMatch == LineMatch::OtherRate) {
        handle({lineNoise(m_config.protocol, int(bytes.size()), m_clientLine, m_config.line)}, t);
        return;
    }
    if (m_line.pendingBytes() == 0)
        m_firstByte = t;
    m_lastByte = t;
    moveLiveItems(t);
    if (m_requestsLeft < 0) {
        handle(m_line.feed(bytes), t);
    } else {
        // Byte by byte, so that nothing after the last counted request is carried out.
        for (qsizetype i = 0; i < bytes.size() && !m_hangupDue; ++i)
            handle(m_line.feed(bytes.mid(i, 1)), t);
    }
    if (m_line.pendingBytes() == 0)
        m_firstByte = 0;
}

void Server::handle(const std::vector<Reply>& heard, Nanos t) {
    for (const Reply& heardReply : overLine(heard, m_lineMatch, m_clientLine)) {
        if (m_hangupDue)
            return;
        Reply r = heardReply;
        std::vector<ChaosPiece> pieces{{0, r.bytes}};
        if (m_chaos && !r.bytes.isEmpty()) {
            pieces = m_chaos->deliver(r.bytes);
            if (!m_chaos->lastFaults().isEmpty())
                r.logLine += QStringLiteral(" [chaos: %1]").arg(m_chaos->lastFaults());
        }
        if (m_log && !r.logLine.isEmpty()) {
            m_log->write(r.logLine.toUtf8() + '\n');
            m_log->flush();
        }
        if (r.addressed && m_requestsLeft > 0 && --m_requestsLeft == 0) {
            m_requestsLeft = -1;
            m_hangupDue = true;
            m_hangupReason = QStringLiteral("after %1 requests").arg(m_config.hangupAfter);
        }
        if (r.bytes.isEmpty() || pieces.empty())
            continue;
        Nanos start = t;
        // The request itself would have taken its wire time to arrive.
        if (m_charNanos > 0 && m_firstByte > 0)
            start = std::max(start, m_firstByte + Nanos(r.requestBytes) * m_charNanos);
        start += Nanos(r.delayMs) * 1000000;
        start = std::max(start, m_lineFree);
        // Answers go out in the order of the requests: a late one holds back the next.
        for (const ChaosPiece& piece : pieces) {
            const Nanos at = std::max(start + Nanos(piece.delayMs) * 1000000, m_lineFree);
            m_lineFree = at + Nanos(piece.bytes.size()) * m_charNanos;
            m_out.push_back(Outgoing{piece.bytes, 0, at});
        }
    }
    dumpMemory();
}

bool Server::writeDue(int master, Nanos t) {
    while (!m_out.empty()) {
        Outgoing& o = m_out.front();
        qsizetype count = 0;
        if (m_charNanos == 0)
            count = t >= o.start ? o.bytes.size() - o.sent : 0;
        else
            while (o.sent + count < o.bytes.size() &&
                   o.start + Nanos(o.sent + count + 1) * m_charNanos <= t)
                ++count;
        if (count == 0)
            return true;
        const ssize_t n = ::write(master, o.bytes.constData() + o.sent, size_t(count));
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        o.sent += n;
        if (o.sent < o.bytes.size())
            return true; // not all due bytes went out: wait for POLLOUT or the next time
        m_out.pop_front();
    }
    return true;
}

Nanos Server::nextDeadline() const {
    Nanos deadline = -1;
    if (!m_out.empty())
        deadline = dueTime(m_out.front());
    if (m_config.protocol == Protocol::ModbusRtu && m_line.pendingBytes() > 0) {
        const Nanos idle = m_lastByte + m_idleNanos;
        deadline = deadline < 0 ? idle : std::min(deadline, idle);
    }
    return deadline;
}

// A hang-up discards what the client has not read yet, so the last answer is given a
// moment to be read first, as it would have been on a line that dropped after it.
bool Server::readyToHangUp(int fd, int slave, Nanos t) {
    constexpr Nanos kSettle = 10000000;    // 10 ms
    constexpr Nanos kLongest = 2000000000; // 2 s: nobody is reading
    if (!m_hangupDue || !m_out.empty())
        return false;
    if (m_drainFrom == 0)
        m_drainFrom = t;
    if (t - m_drainFrom >= kLongest)
        return true;
    if (t - m_drainFrom < kSettle)
        return false;
    if (slave < 0) {
        // A socket: the answer is taken once the client's side acknowledged every byte.
        int unsent = 0;
        return ::ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0;
    }
    // Our own slave descriptor shares the client's input queue: nothing readable there
    // means the client has taken the answer.
    pollfd pfd{slave, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 0;
}

End Server::run(int master, int slave) {
    const bool socket = slave < 0;
    m_slave = slave;
    m_out.clear();
    m_firstByte = m_lastByte = m_lineFree = 0;
    m_hangupDue = false;
    m_drainFrom = 0;
    m_line.discardPending();
    const sigset_t unblocked = waitMask();
    char buffer[4096];
    while (!g_stop) {
        if (takeHangupRequest()) {
            m_hangupReason = QStringLiteral("on SIGUSR1");
            return End::HungUp;
        }
        Nanos t = now();
        if (readyToHangUp(master, slave, t))
            return End::HungUp;
        Nanos deadline = nextDeadline();
        if (m_hangupDue && m_out.empty())
            deadline = t + 5000000; // look again for the client having read the answer
        // Once the count ran out no more requests are read.
        pollfd pfd{master, short(m_hangupDue ? 0 : POLLIN), 0};
        // Ask for POLLOUT only while due bytes wait for room: otherwise it spins.
        if (!m_out.empty() && dueTime(m_out.front()) <= t)
            pfd.events |= POLLOUT;
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline >= 0 && !(pfd.events & POLLOUT)) {
            timeout = toTimespec(std::max<Nanos>(0, deadline - t));
            timeoutPtr = &timeout;
        }
        const int rc = ppoll(&pfd, 1, timeoutPtr, &unblocked);
        if (rc < 0 && errno != EINTR) {
            std::perror("pmx31570a-sim: poll");
            return End::Failed;
        }
        t = now();
        if (rc > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                received(QByteArray(buffer, qsizetype(n)), t);
            else if (socket && (n == 0 || (errno != EAGAIN && errno != EINTR)))
                return End::Closed;
        } else if (socket && rc > 0 && (pfd.revents & (POLLHUP | POLLERR))) {
            return End::Closed;
        }
        if (m_config.protocol == Protocol::ModbusRtu && m_line.pendingBytes() > 0 &&
            t >= m_lastByte + m_idleNanos) {
            handle(m_line.lineIdle(), t);
            m_firstByte = 0;
        }
        if (!writeDue(master, t)) {
            if (socket && (errno == EPIPE || errno == ECONNRESET))
                return End::Closed;
            std::perror("pmx31570a-sim: write");
            return End::Failed;
        }
    }
    return End::Stopped;
}

} // namespace pmx::sim
