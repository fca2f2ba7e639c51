#include "comm/SerialTransport.h"

#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <ctime>
#endif

namespace pmx {

namespace {

// QSerialPort reports both "no permission" and "already in use" (its lock file or the
// exclusive-access ioctl) as PermissionError; tell them apart by whether we could open
// the device node at all.
bool deviceAccessible(const QString& device) {
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    // Windows answers "access denied" for a port another program holds.
    Q_UNUSED(device);
    return true;
#endif
}

// Waits until `fd` is readable or `waitNs` passed, with the finest wait the system has
// (QSerialPort only waits whole milliseconds).
void waitReadable(qintptr fd, qint64 waitNs) {
#ifdef Q_OS_UNIX
    pollfd p{int(fd), POLLIN, 0};
#ifdef Q_OS_LINUX
    const timespec ts{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
    ::ppoll(&p, 1, &ts, nullptr);
#else
    ::poll(&p, 1, int((waitNs + 999999) / 1000000));
#endif
#else
    Q_UNUSED(fd);
    Q_UNUSED(waitNs);
#endif
}

} // namespace

SerialTransport::SerialTransport() : m_port(std::make_unique<QSerialPort>()) {
    m_clock.start();
}

SerialTransport::~SerialTransport() {
    close();
}

bool SerialTransport::open(const LineSettings& s) {
    close();
    m_gone = false;
    m_openError = OpenError::None;
    m_openErrorText.clear();

    QSerialPort::DataBits bits;
    switch (s.dataBits) {
    case 5:
        bits = QSerialPort::Data5;
        break;
    case 6:
        bits = QSerialPort::Data6;
        break;
    case 7:
        bits = QSerialPort::Data7;
        break;
    case 8:
        bits = QSerialPort::Data8;
        break;
    default:
        m_openError = OpenError::BadSettings;
        m_openErrorText = QStringLiteral("Unsupported number of data bits: %1").arg(s.dataBits);
        return false;
    }
    const QSerialPort::Parity parity = s.parity == 'E'   ? QSerialPort::EvenParity
                                       : s.parity == 'O' ? QSerialPort::OddParity
                                                         : QSerialPort::NoParity;
    const QSerialPort::StopBits stop =
        s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;

    m_port->setPortName(s.device); // a text starting with "/" is taken as the device path
    m_port->setBaudRate(s.baudRate);
    m_port->setDataBits(bits);
    m_port->setParity(parity);
    m_port->setStopBits(stop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // A Linux pseudo-terminal keeps 8 bits without parity whatever is asked, but
    // tcsetattr still succeeds and QSerialPort 6.4 does not read the settings back, so
    // 7 bits or EVEN parity open fine on a pty and no pty exception is needed here.
    if (m_port->open(QIODevice::ReadWrite)) {
        m_port->clear(QSerialPort::AllDirections);
        return true;
    }

    const QSerialPort::SerialPortError err = m_port->error();
    const QString detail = m_port->errorString();
    switch (err) {
    case QSerialPort::DeviceNotFoundError:
        m_openError = OpenError::NotFound;
        m_openErrorText = QStringLiteral("%1: no such device (%2)").arg(s.device, detail);
        break;
    case QSerialPort::PermissionError:
        if (deviceAccessible(s.device)) {
            m_openError = OpenError::Busy;
            m_openErrorText =
                QStringLiteral("%1 is in use by another program (%2)").arg(s.device, detail);
        } else {
            m_openError = OpenError::PermissionDenied;
#ifdef Q_OS_LINUX
            m_openErrorText = QStringLiteral("Permission denied for %1: add the user to the "
                                             "'dialout' group and log in again")
                                  .arg(s.device);
#else
            m_openErrorText = QStringLiteral("Permission denied for %1 (%2)").arg(s.device, detail);
#endif
        }
        break;
    case QSerialPort::UnsupportedOperationError:
        m_openError = OpenError::BadSettings;
        m_openErrorText =
            QStringLiteral("%1 does not accept these line settings (%2)").arg(s.device, detail);
        break;
    default:
        m_openError = OpenError::Other;
        m_openErrorText = QStringLiteral("%1 could not be opened (%2)").arg(s.device, detail);
        break;
    }
    m_port->clearError();
    return false;
}

void SerialTransport::close() {
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
}

bool SerialTransport::isOpen() const {
    return m_port->isOpen() && !m_gone;
}

void SerialTransport::discardInput() {
    if (!isOpen())
        return;
    m_port->clear(QSerialPort::Input);
    m_port->readAll(); // also what QSerialPort had already buffered
    checkGone();
}

bool SerialTransport::write(const QByteArray& bytes, int waitMs) {
    if (!isOpen())
        return false;
    if (m_port->write(bytes) != bytes.size()) {
        checkGone();
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (m_port->bytesToWrite() > 0) {
        const int left = waitMs - int(t.elapsed());
        if (left <= 0 || !m_port->waitForBytesWritten(left))
            break;
    }
    checkGone();
    return !m_gone && m_port->bytesToWrite() == 0;
}

QByteArray SerialTransport::read(int waitMs) {
    if (!isOpen())
        return {};
    if (m_port->bytesAvailable() == 0 && waitMs > 0)
        m_port->waitForReadyRead(waitMs);
    QByteArray bytes = m_port->readAll();
    checkGone();
    return bytes;
}

QByteArray SerialTransport::readNs(qint64 waitNs) {
    if (!isOpen())
        return {};
    if (m_port->bytesAvailable() == 0) {
#ifdef Q_OS_UNIX
        if (waitNs > 0)
            waitReadable(m_port->handle(), waitNs);
        m_port->waitForReadyRead(0); // takes in what the device holds, without waiting
#else
        m_port->waitForReadyRead(int((waitNs + 999999) / 1000000));
#endif
    }
    QByteArray bytes = m_port->readAll();
    checkGone();
    return bytes;
}

void SerialTransport::checkGone() {
    switch (m_port->error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        m_port->clearError();
        return;
    case QSerialPort::ResourceError: // USB adapter unplugged
    case QSerialPort::ReadError:     // pty hang-up, or a line that stopped working
    case QSerialPort::WriteError:
        m_gone = true;
        m_port->close();
        return;
    default:
        m_port->clearError();
        return;
    }
}

} // namespace pmx
