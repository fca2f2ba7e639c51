// The main window and a device that goes away and comes back: the loss on show, the
// watch for the device (or the device server's address), and the apply step it posts.
#include "app/MainWindow.h"

#include "comm/TcpTransport.h"
#include "text/StringTable.h"

#include <QFileInfo>
#include <QLabel>
#include <QTcpSocket>

namespace pmx {

// ---- a lost device -------------------------------------------------------------

void MainWindow::connectionLost(const QString& device) {
    enterLost(device);
}

QString MainWindow::lostMessage() const {
    return strings::text(TextId::ConnectionLost).arg(m_lostDevice);
}

void MainWindow::enterLost(const QString& device) {
    if (m_ending)
        return;
    const QString lost = device.isEmpty() && m_com ? m_com->lastDevice() : device;
    if (m_lost && lost == m_lostDevice)
        return; // told once
    m_lost = true;
    m_lostDevice = lost;
    m_watchPaths = {lost};
    if (lost == m_openDevice)
        m_watchPaths += m_openAliases;
    setTransferEnabled(false);
    m_failureTimer.stop();
    showModelLabel(QString(), true);
    setPortLine(lostMessage() + QLatin1Char('\n') +
                    strings::text(TextId::WaitingForDevice).arg(lost),
                true);
    m_lostDeviceTimer.start();
}

void MainWindow::leaveLost() {
    if (m_probe)
        m_probe->abort();
    m_probeStarted.invalidate();
    m_lost = false;
    m_watchPaths.clear();
    m_lostDeviceTimer.stop();
}

void MainWindow::checkLostDevice() {
    if (!m_lost) {
        m_lostDeviceTimer.stop();
        return;
    }
    // An apply already asked for, or a task running: look again at the next tick.
    if (m_dispatcher.busy() || m_dispatcher.task() == kTaskApply)
        return;
    if (TcpTransport::isNetworkAddress(m_lostDevice)) {
        probeNetworkDevice();
        return;
    }
    for (const QString& path : std::as_const(m_watchPaths)) {
        if (QFileInfo::exists(path)) {
            // The same step as the condition dialog's OK, with the conditions stored.
            postTask(kTaskApply);
            return;
        }
    }
}

bool MainWindow::networkProbeRunning() const {
    return m_probe && m_probe->state() != QAbstractSocket::UnconnectedState;
}

void MainWindow::probeNetworkDevice() {
    if (m_probe && m_probe->state() != QAbstractSocket::UnconnectedState) {
        if (m_probeStarted.elapsed() >= TcpTransport::kConnectTimeoutMs)
            m_probe->abort(); // nothing answers; the next try comes at its time
        return;
    }
    if (m_probeStarted.isValid() && m_probeStarted.elapsed() < m_networkRetryMs)
        return;
    const auto address = TcpTransport::parseAddress(m_lostDevice);
    if (!address)
        return;
    if (!m_probe) {
        m_probe = new QTcpSocket(this);
        connect(m_probe, &QTcpSocket::connected, this, [this] {
            // Reachable again: let go at once (a device server may serve one client at a
            // time) and open it as the condition dialog's OK does.
            m_probe->abort();
            if (m_lost && !m_ending && m_dispatcher.task() != kTaskApply)
                postTask(kTaskApply);
        });
    }
    m_probeStarted.start();
    m_probe->connectToHost(address->host, address->port);
}

} // namespace pmx
