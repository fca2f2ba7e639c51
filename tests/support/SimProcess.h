#pragma once
// Starts the virtual instrument (build/bin/pmx31570a-sim) for a test or a benchmark and
// stops it again. Header-only; needs QtCore and PMX_BIN_DIR.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace pmx::test {

class SimProcess {
  public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { kill(); }

    static QString executable() { return QStringLiteral(PMX_BIN_DIR "/pmx31570a-sim"); }

    // Starts the instrument with `args` (e.g. {"--protocol", "rtu", "--instrument", "3"})
    // and waits up to `timeoutMs` for the device path on its first output line. The
    // instrument logs to a file in a temporary directory owned by this object (see
    // logLines()). Returns false, with errorText(), when it did not start.
    bool start(const QStringList& args = {}, int timeoutMs = 10000) {
        kill();
        m_error.clear();
        m_device.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        m_logPath = m_dir->filePath(QStringLiteral("sim.log"));
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start(executable(), args + QStringList{QStringLiteral("--log"), m_logPath});
        if (!m_process->waitForStarted(timeoutMs)) {
            m_error =
                QStringLiteral("cannot start %1: %2").arg(executable(), m_process->errorString());
            m_process.reset();
            return false;
        }
        // Hang guard: the path is the first line; give up at the deadline.
        QDeadlineTimer deadline(timeoutMs);
        QByteArray out;
        while (!out.contains('\n')) {
            const bool ended =
                m_process->state() != QProcess::Running && m_process->bytesAvailable() == 0;
            if (ended || deadline.hasExpired()) {
                m_error = ended
                              ? QStringLiteral("the instrument ended: %1")
                                    .arg(QString::fromLocal8Bit(m_process->readAllStandardError()))
                              : QStringLiteral("no device path from the instrument");
                kill();
                return false;
            }
            m_process->waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 200)));
            out += m_process->readAllStandardOutput();
        }
        m_device = QString::fromLocal8Bit(out.left(out.indexOf('\n')).trimmed());
        return !m_device.isEmpty();
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }
    // The pty path a client opens, e.g. "/dev/pts/4"; empty when not started.
    QString devicePath() const { return m_device; }
    QString errorText() const { return m_error; }
    QString logPath() const { return m_logPath; }

    // The log lines written so far (one per request received).
    QStringList logLines() const {
        QFile f(m_logPath);
        if (m_logPath.isEmpty() || !f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Ends it at once (SIGKILL): the device vanishes as if unplugged.
    void kill() {
        if (!m_process)
            return;
        if (m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
        m_process.reset();
    }

    // Asks it to end (SIGTERM) and waits; true when it ended cleanly with status 0.
    bool terminate(int timeoutMs = 5000) {
        if (!m_process)
            return false;
        m_process->terminate();
        const bool ok = m_process->waitForFinished(timeoutMs) &&
                        m_process->exitStatus() == QProcess::NormalExit &&
                        m_process->exitCode() == 0;
        kill();
        return ok;
    }

  private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_device;
    QString m_error;
    QString m_logPath;
};

} // namespace pmx::test
