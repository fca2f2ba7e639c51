#pragma once
#include "comm/ByteTransport.h"

#include <QElapsedTimer>
#include <memory>
#include <optional>

class QTcpSocket;

namespace pmx {

// A serial line reached through a device server: the bytes of the line travel in a TCP
// connection to HOST:PORT, so framing, answer matching and retries are those of any
// other line. Rate, bits and parity are the device server's business; the transport
// ignores them. Used blocking, in one thread, like the serial transport.
class TcpTransport : public ByteTransport {
  public:
    TcpTransport();
    ~TcpTransport() override;

    // How long opening waits for the connection before it counts as refused.
    static constexpr int kConnectTimeoutMs = 3000;

    // "tcp://HOST:PORT" with an IPv4 address, a host name or an IPv6 address in brackets.
    struct Address {
        QString host;
        quint16 port = 0;
    };
    static std::optional<Address> parseAddress(const QString& text);
    static bool isNetworkAddress(const QString& text) {
        return text.trimmed().startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
    }

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    void discardInput() override;
    bool write(const QByteArray& bytes, int waitMs) override;
    QByteArray read(int waitMs) override;
    bool deviceGone() const override { return m_gone; }
    bool isNetwork() const override { return true; }
    qint64 clockMs() const override { return m_clock.elapsed(); }
    qint64 clockNs() const override { return m_clock.nsecsElapsed(); }

  private:
    void checkGone();

    std::unique_ptr<QTcpSocket> m_socket;
    QElapsedTimer m_clock;
    bool m_gone = false;
    bool m_blocking = false;
};

} // namespace pmx
