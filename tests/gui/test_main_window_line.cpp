// The main window offscreen: a device that goes away and comes back, over a serial device
// or the network, and notices told after a transfer.
#include "MainWindowFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>

using namespace pmx;
using namespace pmx::test;

TEST(MainWindow, LostDeviceIsWatchedAndReopenedByItself) {
    Window win(false);
    ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("by-id")));
    const QString stable = win.path("by-id/usb-Maker_A-if00-port0");
    const QString first = win.file("ttyUSB0", {});
    ASSERT_TRUE(QFile::link(first, stable));
    win.w->setDeviceAliasDir(win.path("by-id"));
    win.com->devicePath = first;
    win.start();
    MainWindow& w = *win.w;
    // The status frame names the device by its stable name and its kernel name.
    EXPECT_EQ(win.portLabel()->toolTip(),
              "COM1 \u2192 " + stable + " (" + QFileInfo(first).canonicalFilePath() + ")");
    win.edit([](ItemTable& t) { t.modelName = QStringLiteral("PMX-31570A"); });
    const QString lost = strings::text(TextId::ConnectionLost).arg(first);
    const auto expectLost = [&](const char* when) {
        EXPECT_EQ(win.modelLabel()->text(), lost) << when;
        EXPECT_TRUE(win.portLabel()->toolTip().contains(lost)) << when;
        EXPECT_FALSE(win.readButton()->isEnabled() || win.writeButton()->isEnabled()) << when;
    };

    QFile::remove(first);
    win.com->loseDevice();
    win.com->loseDevice(); // told once
    w.endFailureDisplay();
    win.tabs()->setCurrentIndex(1);
    w.onDispatcherTick();
    static_cast<TransferView&>(w).showError(102, 0);
    expectLost("after the failure display, a page change, an idle tick and an item failure");
    w.checkLostDevice();
    EXPECT_NE(w.pendingTask(), kTaskApply) << "a dangling name is no device";

    // Back under another kernel name but not usable yet: the watch goes on.
    const QString second = win.file("ttyUSB1", {});
    QFile::remove(stable);
    ASSERT_TRUE(QFile::link(second, stable));
    win.com->devicePath = second;
    win.com->openOk = false;
    w.checkLostDevice();
    ASSERT_EQ(w.pendingTask(), kTaskApply);
    w.onDispatcherTick();
    expectLost("after a failed reopening");

    // Usable: reopened with the stored conditions, and said so for the failure display time.
    QSettingsStore().setValue(cond::kSection, cond::kSpeed, QStringLiteral("19200"));
    win.com->openOk = true;
    w.checkLostDevice();
    w.onDispatcherTick();
    EXPECT_EQ(win.com->conditions().rate, 19200);
    EXPECT_TRUE(win.readButton()->isEnabled());
    EXPECT_EQ(win.modelLabel()->text(), strings::text(TextId::Reconnected).arg(second));
    w.endFailureDisplay();
    EXPECT_EQ(win.modelLabel()->text(), QStringLiteral("PMX-31570A"));
}

TEST(MainWindow, LostNetworkDeviceIsTriedAgainUntilItAnswers) {
    // A loopback port the system gave out, with nobody listening for now.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    server.close();
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    Window win(false);
    win.com->devicePath = address;
    win.start();
    MainWindow& w = *win.w;
    QLabel* portLine = win.portLabel();
    const QString connected = strings::text(TextId::NetworkConnected).arg("COM1 \u2192 " + address);
    EXPECT_EQ(portLine->toolTip(), connected);

    win.com->loseDevice();
    EXPECT_TRUE(portLine->toolTip().contains(strings::text(TextId::ConnectionLost).arg(address)));
    EXPECT_FALSE(win.readButton()->isEnabled());
    w.setNetworkRetryTime(0);
    // Refused: no apply step, and the window went on meanwhile (the try runs in the
    // background); the check comes once the try has ended, however long it took.
    w.checkLostDevice();
    EXPECT_TRUE(w.networkProbeRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.networkProbeRunning(); }, 10000));
    EXPECT_NE(w.pendingTask(), kTaskApply);

    // Reachable: the apply step is posted, and the window's own tick carries it out.
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
    const QDeadlineTimer guard(10000);
    while (!win.readButton()->isEnabled() && !guard.hasExpired()) {
        w.checkLostDevice();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_TRUE(win.readButton()->isEnabled());
    EXPECT_EQ(win.modelLabel()->text(), strings::text(TextId::Reconnected).arg(address));
    EXPECT_EQ(portLine->toolTip(), connected);
}

TEST(MainWindow, NoticeIsToldOnceOnTheSummaryLineAfterTheTransfer) {
    Window win;
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.selections[1] = Selection::Selected;
        t.selections[2] = Selection::Selected;
    });
    auto* summary = child<QLabel>(&w, "Label_summary");
    TransferView& view = w;
    win.com->onSend = [&] {
        view.notice(QStringLiteral("N"));
        EXPECT_FALSE(summary->text().contains('N')) << "not in the middle of the transfer";
    };
    w.postTask(kTaskReadAll);
    w.onDispatcherTick();
    QCoreApplication::processEvents();
    const QString read = strings::text(TextId::SummaryRead).arg(2).arg(2);
    EXPECT_EQ(summary->text(), read + "\nN");
    view.notice(QStringLiteral("M")); // outside a transfer: at once, in place of the summary
    QCoreApplication::processEvents();
    EXPECT_EQ(summary->text(), "M");
    EXPECT_TRUE(win.errors.isEmpty() && win.asked.isEmpty());
}

TEST(MainWindow, ModbusStationZeroReadIsRefusedOnTheSummaryLine) {
    Window win;
    MainWindow& w = *win.w;
    QSettingsStore store;
    store.setValue(cond::kSection, cond::kProtocol, "Modbus RTU");
    w.postTask(kTaskApply);
    w.onDispatcherTick();
    win.edit([](ItemTable& t) { t.selections[1] = Selection::Selected; });
    w.requestRead();
    w.onDispatcherTick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(win.com->log.isEmpty());
    EXPECT_EQ(child<QLabel>(&w, "Label_summary")->text(), strings::text(TextId::BroadcastNoReads));
    EXPECT_EQ(win.asked, QStringList{strings::text(TextId::ConfirmRead)}) << "no other box";
}
