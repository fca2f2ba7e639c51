#include "comm/TcpTransport.h"

#include "text/StringTable.h"
#include "text/SystemReason.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

namespace pmx {

namespace {

// Why a connection failed, in the run's language where the reason is a common one.
QString socketReason(QAbstractSocket::SocketError error, const QString& given) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return strings::text(TextId::ReasonRefused);
    case QAbstractSocket::HostNotFoundError:
        return strings::text(TextId::ReasonHostNotFound);
    case QAbstractSocket::NetworkError:
        return strings::text(TextId::ReasonUnreachable);
    case QAbstractSocket::RemoteHostClosedError:
        return strings::text(TextId::ReasonClosedByPeer);
    default:
        return systemReason(given);
    }
}

} // namespace

TcpTransport::TcpTransport() : m_socket(std::make_unique<QTcpSocket>()) {
    m_clock.start();
    // A device server that closes the connection while the program is idle: noticed by
    // the event loop, reported once, and the socket is closed so nothing spins on it.
    QObject::connect(m_socket.get(), &QTcpSocket::disconnected, m_socket.get(), [this] {
        if (m_blocking || m_gone)
            return;
        m_gone = true;
        if (m_goneHandler)
            m_goneHandler();
    });
}

TcpTransport::~TcpTransport() {
    close();
}

std::optional<TcpTransport::Address> TcpTransport::parseAddress(const QString& text) {
    if (!isNetworkAddress(text))
        return std::nullopt;
    // QUrl knows hosts, IPv6 in brackets and ports; anything beyond HOST:PORT is refused
    // so that a typing slip is not silently taken for another address.
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.path().isEmpty() ||
        url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    return Address{url.host(), quint16(url.port())};
}

bool TcpTransport::open(const LineSettings& settings) {
    close();
    m_gone = false;
    m_openError = OpenError::None;
    m_openErrorText.clear();
    const auto address = parseAddress(settings.device);
    if (!address) {
        m_openError = OpenError::NotFound;
        m_openErrorText = strings::text(TextId::NotANetworkAddress).arg(settings.device);
        return false;
    }
    const bool wasBlocking = m_blocking;
    m_blocking = true;
    m_socket->connectToHost(address->host, address->port);
    const bool connected = m_socket->waitForConnected(kConnectTimeoutMs);
    m_blocking = wasBlocking;
    if (connected) {
        // Requests are a few bytes each: send them at once instead of batching.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }
    const auto error = m_socket->error();
    m_openError =
        error == QAbstractSocket::HostNotFoundError ? OpenError::NotFound : OpenError::Other;
    // Nothing answering at all (a device server switched off, a wrong network) is a
    // time-out, which Qt reports as an unknown error when the wait simply ran out.
    if (error == QAbstractSocket::SocketTimeoutError ||
        (error == QAbstractSocket::UnknownSocketError &&
         m_socket->state() != QAbstractSocket::UnconnectedState))
        m_openErrorText = strings::text(TextId::ConnectTimedOut)
                              .arg(settings.device)
                              .arg(kConnectTimeoutMs / 1000);
    else
        m_openErrorText = strings::text(TextId::OpenFailed).arg(settings.device) +
                          QStringLiteral(" (%1)").arg(socketReason(error, m_socket->errorString()));
    m_socket->abort();
    return false;
}

void TcpTransport::close() {
    const bool wasBlocking = m_blocking;
    m_blocking = true; // our own close is no loss
    m_socket->abort();
    m_blocking = wasBlocking;
}

bool TcpTransport::isOpen() const {
    return !m_gone && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TcpTransport::discardInput() {
    if (!isOpen())
        return;
    m_socket->readAll();
}

bool TcpTransport::write(const QByteArray& bytes, int waitMs) {
    if (!isOpen())
        return false;
    const bool wasBlocking = m_blocking;
    m_blocking = true;
    bool ok = m_socket->write(bytes) == bytes.size();
    QElapsedTimer t;
    t.start();
    while (ok && m_socket->bytesToWrite() > 0) {
        const int left = waitMs - int(t.elapsed());
        if (left <= 0 || !m_socket->waitForBytesWritten(left))
            ok = false;
    }
    m_blocking = wasBlocking;
    checkGone();
    return ok && !m_gone;
}

QByteArray TcpTransport::read(int waitMs) {
    if (!isOpen())
        return {};
    const bool wasBlocking = m_blocking;
    m_blocking = true;
    if (m_socket->bytesAvailable() == 0 && waitMs > 0)
        m_socket->waitForReadyRead(waitMs);
    QByteArray bytes = m_socket->readAll();
    m_blocking = wasBlocking;
    // The last answer before the far end closed is still an answer: the loss is seen by
    // the next read.
    if (bytes.isEmpty())
        checkGone();
    return bytes;
}

void TcpTransport::checkGone() {
    // waitForReadyRead also returns on a time-out: only a connection no longer up is a loss.
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0)
        m_gone = true;
}

} // namespace pmx
