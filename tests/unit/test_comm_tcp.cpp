// A line behind a device server: addresses, and a connection that the far end closes while
// nobody waits on it, on the loopback. Exchanges over TCP and a refused connection are
// checked end to end (test_comm_e2e, test_cli_e2e).
#include "comm/CommandFields.h"
#include "comm/SerialComm.h"
#include "comm/TcpTransport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace pmx;

TEST(TcpAddress, OnlyHostAndPortAreTaken) {
    const struct {
        const char* text;
        const char* host; // nullptr: refused
        quint16 port;
    } cases[] = {
        {"tcp://192.168.0.7:4001", "192.168.0.7", 4001},
        {"tcp://[::1]:10001", "::1", 10001},
        {"TCP://10.0.0.1:23", "10.0.0.1", 23},
        {"  tcp://10.0.0.1:23 ", "10.0.0.1", 23},
        {"tcp://10.0.0.1", nullptr, 0},
        {"tcp://10.0.0.1:0", nullptr, 0},
        {"tcp://10.0.0.1:23/x", nullptr, 0},
        {"tcp://10.0.0.1:23?a=b", nullptr, 0},
        {"tcp://me@10.0.0.1:23", nullptr, 0},
        {"tcp://:23", nullptr, 0},
        {"udp://10.0.0.1:23", nullptr, 0},
        {"/dev/ttyUSB0", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto a = TcpTransport::parseAddress(QString::fromUtf8(c.text));
        ASSERT_EQ(a.has_value(), c.host != nullptr);
        if (a) {
            EXPECT_EQ(a->host, QString::fromUtf8(c.host));
            EXPECT_EQ(a->port, c.port);
        }
    }
}

TEST(TcpComm, FarEndClosingWhileIdleIsReportedOnceAndReopens) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
    // The default transport, chosen by the device: a device path first, then the address.
    SerialComm com(nullptr, [](const QString& p) { return p; });
    com.setConditions({.port = "/nonexistent/tty"});
    EXPECT_FALSE(com.openPort());
    EXPECT_FALSE(com.isNetwork());
    com.setConditions({.port = "tcp://127.0.0.1"}); // no port: never reaches the network
    EXPECT_FALSE(com.openPort());
    EXPECT_EQ(com.lastOpenError(), OpenError::NotFound);
    com.setConditions({.port = address});
    int reports = 0;
    com.setLostHandler([&] { ++reports; });
    ASSERT_TRUE(com.openPort()) << com.lastOpenErrorText().toStdString();
    EXPECT_TRUE(com.isNetwork());
    ASSERT_TRUE(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> far(server.nextPendingConnection());
    far->abort();
    // Hang guard only: the loss arrives through the event loop.
    const QDeadlineTimer guard(10000);
    while (reports == 0 && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(com.deviceLost() && !com.isOpen());
    EXPECT_EQ(com.lostDevice(), address);

    // An exchange meanwhile fails at once and reports nothing more.
    const ExchangeResult r = sendItemCommand(com, Request::read(0, "0001"));
    EXPECT_TRUE(r.text.isEmpty());
    EXPECT_EQ(r.outcome, ExchangeOutcome::DeviceLost);
    EXPECT_TRUE(com.lastExchange().deviceGone);
    EXPECT_EQ(reports, 1);

    ASSERT_TRUE(com.openPort());
    EXPECT_TRUE(!com.deviceLost() && com.isOpen());
}
