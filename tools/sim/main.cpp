// pmx31570a-sim: one virtual instrument on a new pseudo-terminal, or listening on TCP.
#include "SimInstrument.h"
#include "SimLine.h"
#include "SimOptions.h"
#include "SimPty.h"
#include "pmx_version.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

using namespace pmx::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_hangup = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

extern "C" void onHangupSignal(int) {
    g_hangup = 1;
}

// The signals we act on are blocked except while waiting, so none races a wait.
sigset_t waitMask() {
    sigset_t unblocked;
    sigprocmask(SIG_SETMASK, nullptr, &unblocked);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigdelset(&unblocked, s);
    return unblocked;
}

using Nanos = long long;

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

void printErr(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

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
    Server(Instrument& instrument, const Config& config, QFile* log)
        : m_instrument(instrument), m_config(config), m_log(log),
          m_requestsLeft(config.hangupAfter > 0 ? config.hangupAfter : -1) {
        m_charNanos = config.baud > 0 ? Nanos(1e9 * config.bitsPerChar / config.baud) : 0;
        // Modbus RTU frame end: 3.5 characters, or the fixed 1.75 ms of fast lines.
        m_idleNanos = m_charNanos > 0 ? std::max<Nanos>(m_charNanos * 7 / 2, 1750000) : 1750000;
    }

    // Serves one pseudo-terminal until a stop signal, a hang-up or an error.
    End run(const Pty& pty) { return run(pty.master, pty.slave); }
    // Serves one TCP client until it closes, a stop signal, a hang-up or an error.
    End runClient(int socket) { return run(socket, -1); }
    // Why the last run() hung up, for the message.
    QString hangupReason() const { return m_hangupReason; }

  private:
    void received(const QByteArray& bytes, Nanos t);
    void handle(const std::vector<Reply>& replies, Nanos t);
    bool writeDue(int master, Nanos t); // false on a write error other than EAGAIN
    Nanos nextDeadline() const;         // -1: none
    Nanos dueTime(const Outgoing& o) const {
        return m_charNanos > 0 ? o.start + Nanos(o.sent + 1) * m_charNanos : o.start;
    }
    bool readyToHangUp(int fd, int slave, Nanos t);
    // slave < 0: fd is a connected socket.
    End run(int fd, int slave);

    Instrument& m_instrument;
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
};

void Server::received(const QByteArray& bytes, Nanos t) {
    int rate = 0, stopBits = 0;
    m_lineMatch = m_config.line.set && clientLine(m_slave, &rate, &stopBits)
                      ? matchLine(m_config.line, rate, stopBits)
                      : LineMatch::Match;
    m_clientLine = clientLineText(rate, stopBits);
    if (m_lineMatch == LineMatch::OtherRate) {
        handle({lineNoise(m_config.protocol, int(bytes.size()), m_clientLine, m_config.line)}, t);
        return;
    }
    if (m_instrument.pendingBytes() == 0)
        m_firstByte = t;
    m_lastByte = t;
    if (m_requestsLeft < 0) {
        handle(m_instrument.feed(bytes), t);
    } else {
        // Byte by byte, so that nothing after the last counted request is carried out.
        for (qsizetype i = 0; i < bytes.size() && !m_hangupDue; ++i)
            handle(m_instrument.feed(bytes.mid(i, 1)), t);
    }
    if (m_instrument.pendingBytes() == 0)
        m_firstByte = 0;
}

void Server::handle(const std::vector<Reply>& heard, Nanos t) {
    for (const Reply& r : overLine(heard, m_lineMatch, m_clientLine)) {
        if (m_hangupDue)
            return;
        if (m_log && !r.logLine.isEmpty()) {
            m_log->write(r.logLine.toUtf8() + '\n');
            m_log->flush();
        }
        if (r.addressed && m_requestsLeft > 0 && --m_requestsLeft == 0) {
            m_requestsLeft = -1;
            m_hangupDue = true;
            m_hangupReason = QStringLiteral("after %1 requests").arg(m_config.hangupAfter);
        }
        if (r.bytes.isEmpty())
            continue;
        Nanos start = t;
        // The request itself would have taken its wire time to arrive.
        if (m_charNanos > 0 && m_firstByte > 0)
            start = std::max(start, m_firstByte + Nanos(r.requestBytes) * m_charNanos);
        start += Nanos(r.delayMs) * 1000000;
        start = std::max(start, m_lineFree);
        m_lineFree = start + Nanos(r.bytes.size()) * m_charNanos;
        m_out.push_back(Outgoing{r.bytes, 0, start});
    }
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
    if (m_config.protocol == Protocol::ModbusRtu && m_instrument.pendingBytes() > 0) {
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
    m_instrument.discardPending();
    const sigset_t unblocked = waitMask();
    char buffer[4096];
    while (!g_stop) {
        if (g_hangup) {
            g_hangup = 0;
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
        if (m_config.protocol == Protocol::ModbusRtu && m_instrument.pendingBytes() > 0 &&
            t >= m_lastByte + m_idleNanos) {
            handle(m_instrument.lineIdle(), t);
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

// The device is away for `ms`; false when a stop signal came meanwhile.
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

QString linkNote(const Config& config) {
    const QString line =
        config.line.set ? QStringLiteral(" at %1").arg(lineText(config.line)) : QString();
    return line + (config.linkPath.isEmpty() ? QString()
                                             : QStringLiteral(" (link %1)").arg(config.linkPath));
}

// A listening socket on the configured address and port; -1 with a message on failure.
int listenTcp(const Config& config, quint16 port) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    const QByteArray host = config.tcpListen.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, host.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        printErr(
            QStringLiteral("pmx31570a-sim: --listen: not an IP address: %1").arg(config.tcpListen));
        return -1;
    }
    const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    // The same port again after a hang-up, despite connections still in TIME_WAIT.
    if (fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(fd, 4) != 0) {
        std::perror("pmx31570a-sim: --tcp");
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

quint16 boundPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

// Waits for the next client; -1 on a stop signal or an error.
int acceptClient(int listener) {
    const sigset_t unblocked = waitMask();
    while (!g_stop) {
        pollfd pfd{listener, POLLIN, 0};
        const int rc = ppoll(&pfd, 1, nullptr, &unblocked);
        if (rc < 0 && errno != EINTR)
            return -1;
        g_hangup = 0; // nobody to hang up on
        if (rc > 0) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                return fd;
            }
        }
    }
    return -1;
}

// As a device server: one client at a time, the next accepted when it leaves. A hang-up
// closes the client's connection; with --hangup-for the port is closed meanwhile, so that
// connecting is refused until the instrument is back.
int serveTcp(Server& server, const Config& config) {
    int listener = listenTcp(config, quint16(config.tcpPort));
    if (listener < 0)
        return 1;
    const quint16 port = boundPort(listener);
    const QString host = config.tcpListen.contains(QLatin1Char(':'))
                             ? QStringLiteral("[%1]").arg(config.tcpListen)
                             : config.tcpListen;
    const QString address = QStringLiteral("tcp://%1:%2").arg(host).arg(port);
    std::printf("%s\n", address.toLocal8Bit().constData());
    std::fflush(stdout);
    printErr(QStringLiteral("pmx31570a-sim: %1 instrument %2 on %3")
                 .arg(protocolName(config.protocol))
                 .arg(config.instrumentNo)
                 .arg(address));
    int rc = 0;
    while (!g_stop) {
        const int client = acceptClient(listener);
        if (client < 0)
            break;
        const End end = server.runClient(client);
        if (end == End::HungUp && config.hangupForMs >= 0) {
            // Refused from the moment the client sees the close, not one moment later.
            ::close(listener);
            listener = -1;
        }
        ::close(client);
        if (end == End::Failed) {
            rc = 1;
            break;
        }
        if (end != End::HungUp)
            continue; // Closed: the next client; Stopped: the loop ends
        if (config.hangupForMs < 0) {
            printErr(QStringLiteral("pmx31570a-sim: hung up %1").arg(server.hangupReason()));
            break;
        }
        printErr(QStringLiteral("pmx31570a-sim: hung up %1; back in %2 ms")
                     .arg(server.hangupReason())
                     .arg(config.hangupForMs));
        if (!stayAway(config.hangupForMs))
            break;
        listener = listenTcp(config, port);
        if (listener < 0)
            return 1;
        printErr(QStringLiteral("pmx31570a-sim: back on %1").arg(address));
    }
    if (listener >= 0)
        ::close(listener);
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const ParseResult parsed = parseArguments(args);
    if (parsed.help) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("pmx31570a-sim %s\n", PMX_VERSION_STRING);
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        printErr(QStringLiteral("pmx31570a-sim: ") + parsed.error);
        return 2;
    }
    const Config& config = parsed.config;

    Instrument instrument(config.protocol, config.instrumentNo);
    QString error;
    if (!config.valuesFile.isEmpty() && !loadValues(config.valuesFile, instrument, &error)) {
        printErr(QStringLiteral("pmx31570a-sim: ") + error);
        return 2;
    }
    if (!config.modelFile.isEmpty()) {
        QStringList names;
        if (!loadItemNames(config.modelFile, &names, &error)) {
            printErr(QStringLiteral("pmx31570a-sim: ") + error);
            return 2;
        }
        instrument.setItemNames(names);
    }
    if (config.delayAllMs > 0)
        for (int item = 0; item < kItemCount; ++item)
            instrument.setFault(item, Fault{FaultKind::Delay, 4, config.delayAllMs, 0});
    for (const auto& [item, fault] : config.faults)
        instrument.setFault(item, fault);
    for (int item : config.refuseSpans)
        instrument.setRefuseSpan(item);
    instrument.setMaxCount(config.maxCount);
    instrument.setSilent(config.silent);

    QFile log(config.logFile);
    if (!config.logFile.isEmpty() && !log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        printErr(QStringLiteral("pmx31570a-sim: cannot open log %1: %2")
                     .arg(config.logFile, log.errorString()));
        return 2;
    }

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

    Server server(instrument, config, log.isOpen() ? &log : nullptr);
    if (config.tcpPort >= 0)
        return serveTcp(server, config);

    Pty pty;
    if (!openPty(&pty))
        return 1;
    if (!config.linkPath.isEmpty() && !makeLink(config.linkPath, pty.path))
        return 1;

    std::printf("%s\n", pty.path.constData());
    std::fflush(stdout);
    printErr(QStringLiteral("pmx31570a-sim: %1 instrument %2 on %3%4")
                 .arg(protocolName(config.protocol))
                 .arg(config.instrumentNo)
                 .arg(QString::fromLocal8Bit(pty.path), linkNote(config)));

    int rc = 0;
    for (;;) {
        const End end = server.run(pty);
        if (end != End::HungUp) {
            rc = end == End::Failed ? 1 : 0;
            break;
        }
        // The link goes first, so that a client that sees the hang-up finds no device.
        removeLink(config.linkPath);
        closePty(&pty);
        if (config.hangupForMs < 0) {
            printErr(QStringLiteral("pmx31570a-sim: hung up %1").arg(server.hangupReason()));
            return 0;
        }
        printErr(QStringLiteral("pmx31570a-sim: hung up %1; back in %2 ms")
                     .arg(server.hangupReason())
                     .arg(config.hangupForMs));
        if (!stayAway(config.hangupForMs))
            return 0;
        if (!openPty(&pty))
            return 1;
        if (!config.linkPath.isEmpty() && !makeLink(config.linkPath, pty.path)) {
            closePty(&pty);
            return 1;
        }
        std::printf("%s\n", pty.path.constData());
        std::fflush(stdout);
        printErr(QStringLiteral("pmx31570a-sim: back on %1%2")
                     .arg(QString::fromLocal8Bit(pty.path), linkNote(config)));
    }

    removeLink(config.linkPath);
    closePty(&pty);
    return rc;
}
