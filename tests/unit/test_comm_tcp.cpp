// A line behind a device server: addresses, how a port name reaches one, and a connection
// that the far end closes while nobody waits on it. All on the loopback.
#include "comm/CommandFields.h"
#include "comm/PortMap.h"
#include "comm/SerialComm.h"
#include "comm/TcpTransport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

struct AddressCase {
    const char* name;
    const char* text;
    const char* host; // nullptr: refused
    quint16 port;
};

const AddressCase kAddresses[] = {
    {"ipv4", "tcp://192.168.0.7:4001", "192.168.0.7", 4001},
    {"hostName", "tcp://gateway-3.plant:502", "gateway-3.plant", 502},
    {"ipv6InBrackets", "tcp://[::1]:10001", "::1", 10001},
    {"upperCaseScheme", "TCP://10.0.0.1:23", "10.0.0.1", 23},
    {"spacesAround", "  tcp://10.0.0.1:23 ", "10.0.0.1", 23},
    {"highestPort", "tcp://h:65535", "h", 65535},
    {"noPort", "tcp://10.0.0.1", nullptr, 0},
    {"portZero", "tcp://10.0.0.1:0", nullptr, 0},
    {"portTooLarge", "tcp://10.0.0.1:65536", nullptr, 0},
    {"ipv6WithoutBrackets", "tcp://::1:502", nullptr, 0},
    {"trailingPath", "tcp://10.0.0.1:23/x", nullptr, 0},
    {"trailingSlash", "tcp://10.0.0.1:23/", nullptr, 0},
    {"query", "tcp://10.0.0.1:23?a=b", nullptr, 0},
    {"userInfo", "tcp://me@10.0.0.1:23", nullptr, 0},
    {"noHost", "tcp://:23", nullptr, 0},
    {"otherScheme", "udp://10.0.0.1:23", nullptr, 0},
    {"devicePath", "/dev/ttyUSB0", nullptr, 0},
};

class TcpAddress : public ::testing::TestWithParam<AddressCase> {};

} // namespace

TEST_P(TcpAddress, ParsesOnlyHostAndPort) {
    const AddressCase& c = GetParam();
    const auto a = TcpTransport::parseAddress(QString::fromUtf8(c.text));
    if (!c.host) {
        EXPECT_FALSE(a.has_value()) << a->host.toStdString();
        return;
    }
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->host, QString::fromUtf8(c.host));
    EXPECT_EQ(a->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(, TcpAddress, ::testing::ValuesIn(kAddresses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TcpPortMap, AnAddressIsUsedAsItIsTypedOrStoredForACom) {
    MemorySettingsStore store;
    PortMap map(store, [] {
        return QList<SerialPortEntry>{{"/dev/ttyUSB0", "/dev/ttyUSB0", "", true}};
    });
    EXPECT_EQ(map.resolve(" tcp://10.1.2.3:4001"), "tcp://10.1.2.3:4001");
    map.setMapping("COM2", "tcp://[::1]:4002");
    EXPECT_EQ(map.resolve("COM2"), "tcp://[::1]:4002");
    EXPECT_EQ(map.resolve("COM1"), "/dev/ttyUSB0") << "other ports keep the automatic choice";
}

TEST(TcpComm, RefusedConnectionIsAnOpenFailureWithTheReason) {
    // A port the system gave out and nobody listens on any more.
    quint16 port = 0;
    {
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        port = server.serverPort();
    }
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    SerialComm com(nullptr, [](const QString& p) { return p; });
    com.setConditions({.port = address});
    EXPECT_FALSE(com.openPort());
    EXPECT_EQ(com.lastOpenError(), OpenError::Other);
    EXPECT_TRUE(com.lastOpenErrorText().startsWith(address + " could not be opened ("))
        << com.lastOpenErrorText().toStdString();
    EXPECT_TRUE(com.lastOpenErrorText().contains("refused", Qt::CaseInsensitive))
        << com.lastOpenErrorText().toStdString();
    EXPECT_TRUE(com.isNetwork());
    EXPECT_FALSE(com.deviceLost());

    // A malformed address never reaches the network.
    com.setConditions({.port = "tcp://127.0.0.1"});
    EXPECT_FALSE(com.openPort());
    EXPECT_EQ(com.lastOpenError(), OpenError::NotFound);
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
    com.setConditions({.port = address});
    int reports = 0;
    com.setLostHandler([&] { ++reports; });
    ASSERT_TRUE(com.openPort()) << com.lastOpenErrorText().toStdString();
    EXPECT_TRUE(com.isNetwork());
    EXPECT_EQ(com.lastDevice(), address);
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
    EXPECT_TRUE(com.deviceLost());
    EXPECT_FALSE(com.isOpen());
    EXPECT_EQ(com.lostDevice(), address);

    // An exchange meanwhile fails at once and reports nothing more.
    QByteArray sub, cmd("03"), item("0001"), d;
    qint16 retn = 3, inst = 0;
    EXPECT_TRUE(sendItemCommand(com, inst, sub, cmd, item, d, retn).isEmpty());
    EXPECT_TRUE(com.lastExchange().deviceGone);
    EXPECT_EQ(reports, 1);

    ASSERT_TRUE(com.openPort());
    EXPECT_FALSE(com.deviceLost());
    EXPECT_TRUE(com.isOpen());
}
