#pragma once
// A device on a pty passed through a TCP port by socat, as a serial device server passes
// its line: socat listens on a loopback port the system picks and reports it.
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>

#include <memory>

namespace pmx::test {

class SocatBridge {
  public:
    ~SocatBridge() { stop(); }

    static bool available() { return !QStandardPaths::findExecutable("socat").isEmpty(); }

    // Listens for one client and connects it to `device`; false with errorText() when
    // socat reported no port within `timeoutMs` (a hang guard).
    bool start(const QString& device, int timeoutMs = 10000) {
        stop();
        m_process = std::make_unique<QProcess>();
        m_process->start(QStringLiteral("socat"),
                         {QStringLiteral("-d"), QStringLiteral("-d"),
                          QStringLiteral("TCP-LISTEN:0,bind=127.0.0.1,reuseaddr"),
                          QStringLiteral("FILE:%1,rawer").arg(device)});
        const QRegularExpression listening(QStringLiteral("listening on .*:(\\d+)"));
        QByteArray err;
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && m_process->state() != QProcess::NotRunning) {
            m_process->waitForReadyRead(100);
            err += m_process->readAllStandardError();
            const auto m = listening.match(QString::fromLocal8Bit(err));
            if (m.hasMatch()) {
                m_address = QStringLiteral("tcp://127.0.0.1:%1").arg(m.captured(1));
                return true;
            }
        }
        m_error = QString::fromLocal8Bit(err);
        stop();
        return false;
    }
    void stop() {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
        m_process.reset();
    }
    QString address() const { return m_address; }
    QString errorText() const { return m_error; }

  private:
    std::unique_ptr<QProcess> m_process;
    QString m_address;
    QString m_error;
};

} // namespace pmx::test
