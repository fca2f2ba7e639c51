// pmx31570a-sim: one virtual instrument on a new pseudo-terminal.
#include "SimInstrument.h"
#include "SimOptions.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace pmx::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

using Nanos = long long;

Nanos now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// One answer on its way out. Without pacing every byte is due at `start`; with pacing
// byte k is due when its stop bit would end, at start + (k + 1) character times.
struct Outgoing {
    QByteArray bytes;
    qsizetype sent = 0;
    Nanos start = 0;
};

class Server {
  public:
    Server(Instrument& instrument, const Config& config, QFile* log)
        : m_instrument(instrument), m_config(config), m_log(log) {
        m_charNanos = config.baud > 0 ? Nanos(1e9 * config.bitsPerChar / config.baud) : 0;
        // Modbus RTU frame end: 3.5 characters, or the fixed 1.75 ms of fast lines.
        m_idleNanos = m_charNanos > 0 ? std::max<Nanos>(m_charNanos * 7 / 2, 1750000) : 1750000;
    }

    int run(int master);

  private:
    void received(const QByteArray& bytes, Nanos t);
    void handle(const std::vector<Reply>& replies, Nanos t);
    bool writeDue(int master, Nanos t); // false on a write error other than EAGAIN
    Nanos nextDeadline() const;         // -1: none
    Nanos dueTime(const Outgoing& o) const {
        return m_charNanos > 0 ? o.start + Nanos(o.sent + 1) * m_charNanos : o.start;
    }

    Instrument& m_instrument;
    const Config& m_config;
    QFile* m_log;
    Nanos m_charNanos = 0;
    Nanos m_idleNanos = 0;
    Nanos m_firstByte = 0; // arrival of the first byte of the request being received
    Nanos m_lastByte = 0;  // arrival of the last byte received
    Nanos m_lineFree = 0;  // end of the last answer scheduled
    std::deque<Outgoing> m_out;
};

void Server::received(const QByteArray& bytes, Nanos t) {
    if (m_instrument.pendingBytes() == 0)
        m_firstByte = t;
    m_lastByte = t;
    handle(m_instrument.feed(bytes), t);
    if (m_instrument.pendingBytes() == 0)
        m_firstByte = 0;
}

void Server::handle(const std::vector<Reply>& replies, Nanos t) {
    for (const Reply& r : replies) {
        if (m_log && !r.logLine.isEmpty()) {
            m_log->write(r.logLine.toUtf8() + '\n');
            m_log->flush();
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

int Server::run(int master) {
    sigset_t unblocked;
    sigprocmask(SIG_SETMASK, nullptr, &unblocked);
    sigdelset(&unblocked, SIGTERM);
    sigdelset(&unblocked, SIGINT);
    sigdelset(&unblocked, SIGHUP);
    char buffer[4096];
    while (!g_stop) {
        Nanos t = now();
        const Nanos deadline = nextDeadline();
        pollfd pfd{master, POLLIN, 0};
        // Ask for POLLOUT only while due bytes wait for room: otherwise it spins.
        if (!m_out.empty() && dueTime(m_out.front()) <= t)
            pfd.events |= POLLOUT;
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline >= 0 && !(pfd.events & POLLOUT)) {
            const Nanos wait = std::max<Nanos>(0, deadline - t);
            timeout.tv_sec = time_t(wait / 1000000000LL);
            timeout.tv_nsec = long(wait % 1000000000LL);
            timeoutPtr = &timeout;
        }
        const int rc = ppoll(&pfd, 1, timeoutPtr, &unblocked);
        if (rc < 0 && errno != EINTR) {
            std::perror("pmx31570a-sim: poll");
            return 1;
        }
        t = now();
        if (rc > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                received(QByteArray(buffer, qsizetype(n)), t);
        }
        if (m_config.protocol == Protocol::ModbusRtu && m_instrument.pendingBytes() > 0 &&
            t >= m_lastByte + m_idleNanos) {
            handle(m_instrument.lineIdle(), t);
            m_firstByte = 0;
        }
        if (!writeDue(master, t)) {
            std::perror("pmx31570a-sim: write");
            return 1;
        }
    }
    return 0;
}

void printErr(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
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
    for (const auto& [item, fault] : config.faults)
        instrument.setFault(item, fault);
    instrument.setSilent(config.silent);

    QFile log(config.logFile);
    if (!config.logFile.isEmpty() && !log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        printErr(QStringLiteral("pmx31570a-sim: cannot open log %1: %2")
                     .arg(config.logFile, log.errorString()));
        return 2;
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pmx31570a-sim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    if (!slaveName) {
        std::perror("pmx31570a-sim: ptsname");
        return 1;
    }
    const QByteArray slavePath(slaveName);
    // Holding the slave open ourselves keeps the master from reporting hang-up (and poll
    // from spinning on it) whenever no client has the device open.
    const int slave = ::open(slavePath.constData(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("pmx31570a-sim: open slave");
        return 1;
    }
    // Raw from the start: no echo of the answers back to us, no CR/LF translation of
    // Modbus ASCII frames, all 8 bits of RTU bytes.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!config.linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(config.linkPath);
        struct stat st {};
        // Replace a stale link of an earlier run, never a real file.
        if (lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(link.constData());
        if (symlink(slavePath.constData(), link.constData()) != 0) {
            std::perror("pmx31570a-sim: --link");
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken only inside ppoll, so a stop request never races the wait.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGHUP);
    sigprocmask(SIG_BLOCK, &block, nullptr);

    std::printf("%s\n", slavePath.constData());
    std::fflush(stdout);
    printErr(QStringLiteral("pmx31570a-sim: %1 instrument %2 on %3%4")
                 .arg(protocolName(config.protocol))
                 .arg(config.instrumentNo)
                 .arg(QString::fromLocal8Bit(slavePath),
                      config.linkPath.isEmpty()
                          ? QString()
                          : QStringLiteral(" (link %1)").arg(config.linkPath)));

    Server server(instrument, config, log.isOpen() ? &log : nullptr);
    const int rc = server.run(master);

    if (!config.linkPath.isEmpty())
        ::unlink(QFile::encodeName(config.linkPath).constData());
    ::close(slave);
    ::close(master);
    return rc;
}
