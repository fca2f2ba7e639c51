// pmx31570a-sim: virtual instruments on a new pseudo-terminal, or listening on TCP.
#include "SimLine.h"
#include "SimOptions.h"
#include "SimPty.h"
#include "SimServer.h"
#include "pmx_version.h"
#include "text/ProgramMessages.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pmx::sim;

namespace {

void printErr(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
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
    while (!stopRequested()) {
        pollfd pfd{listener, POLLIN, 0};
        const int rc = ppoll(&pfd, 1, nullptr, &unblocked);
        if (rc < 0 && errno != EINTR)
            return -1;
        takeHangupRequest(); // nobody to hang up on
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
int serveTcp(Server& server, const Config& config, const QString& instruments) {
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
    printErr(QStringLiteral("pmx31570a-sim: %1 %2 on %3")
                 .arg(protocolName(config.protocol), instruments)
                 .arg(address));
    int rc = 0;
    while (!stopRequested()) {
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
    // Its own lines only: the toolkit's notes (a log on a device that cannot seek) are not
    // for the person running it.
    pmx::setProgramName(QStringLiteral("pmx31570a-sim"));
    pmx::routeQtMessages(2);
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

    Line line(config.protocol, config.instruments);
    QString error;
    if (!setUpLine(config, line, &error)) {
        printErr(QStringLiteral("pmx31570a-sim: ") + error);
        return 2;
    }

    QFile log(config.logFile);
    if (!config.logFile.isEmpty() && !log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        printErr(QStringLiteral("pmx31570a-sim: cannot open log %1: %2")
                     .arg(config.logFile, log.errorString()));
        return 2;
    }

    installSignals();
    Server server(line, config, log.isOpen() ? &log : nullptr);
    if (!server.dumpMemory())
        return 2;
    if (config.tcpPort >= 0)
        return serveTcp(server, config, line.describe());

    Pty pty;
    if (!openPty(&pty))
        return 1;
    if (!config.linkPath.isEmpty() && !makeLink(config.linkPath, pty.path))
        return 1;

    std::printf("%s\n", pty.path.constData());
    std::fflush(stdout);
    printErr(QStringLiteral("pmx31570a-sim: %1 %2 on %3%4")
                 .arg(protocolName(config.protocol), line.describe())
                 .arg(QString::fromLocal8Bit(pty.path), linkNote(config)));

    int rc = 0;
    for (;;) {
        const End end = server.runPty(pty.master, pty.slave);
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
