#include "comm/SerialTransport.h"

#include "comm/PortLock.h"
#include "text/StringTable.h"
#include "text/SystemReason.h"

#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
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

// A pseudo-terminal carries 8 bits without parity whatever is asked: Linux drops the data
// bits and parity of every request and keeps the rest. The C library reports that as
// "invalid argument" once the request changes nothing else, as it does when a client was
// killed before it could put back the settings it found, so asking a pty for 7 bits or
// parity would fail from then on.
bool isPseudoTerminal(const QString& device) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
#ifdef Q_OS_LINUX
    const unsigned kind = major(st.st_rdev);
    return (kind >= 136 && kind <= 143) || kind == 3; // pty slaves, new and old style
#else
    const QString path = QFileInfo(device).canonicalFilePath();
    return path.startsWith(QLatin1String("/dev/pts/")) ||
           path.startsWith(QLatin1String("/dev/ttys")) ||
           path.startsWith(QLatin1String("/dev/ttyp"));
#endif
#else
    Q_UNUSED(device);
    return false;
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
    // While the program is idle the port's read notifier still watches the device: a
    // hang-up or an unplugged adapter shows up here. Left open, a hung-up pty keeps the
    // notifier firing and the program spinning, so the port is closed as soon as the
    // event loop comes back (never inside QSerialPort's own call).
    QObject::connect(m_port.get(), &QSerialPort::errorOccurred, m_port.get(),
                     [this](QSerialPort::SerialPortError error) {
                         if (m_blocking || !isLineFault(error) || !m_port->isOpen())
                             return;
                         const quint64 generation = m_generation;
                         QMetaObject::invokeMethod(
                             m_port.get(),
                             [this, generation] {
                                 if (generation != m_generation || m_gone || !m_port->isOpen())
                                     return;
                                 m_gone = true;
                                 m_port->close();
                                 if (m_goneHandler)
                                     m_goneHandler();
                             },
                             Qt::QueuedConnection);
                     });
}

bool SerialTransport::isLineFault(int error) {
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

SerialTransport::~SerialTransport() {
    close();
}

bool SerialTransport::open(const LineSettings& s) {
    close();
    ++m_generation;
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
        m_openErrorText = strings::text(TextId::SettingsRefused).arg(s.device);
        return false;
    }
    const QSerialPort::Parity parity = s.parity == 'E'   ? QSerialPort::EvenParity
                                       : s.parity == 'O' ? QSerialPort::OddParity
                                                         : QSerialPort::NoParity;
    const QSerialPort::StopBits stop =
        s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;

    m_port->setPortName(s.device); // a text starting with "/" is taken as the device path
    m_port->setBaudRate(s.baudRate);
    // On a pty the line is asked for what it carries anyway (see isPseudoTerminal); its
    // rate and stop bits are set as given, and the virtual instrument reads them.
    const bool pty = isPseudoTerminal(s.device);
    m_port->setDataBits(pty ? QSerialPort::Data8 : bits);
    m_port->setParity(pty ? QSerialPort::NoParity : parity);
    m_port->setStopBits(stop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // A lock file whose owner is gone (killed before it could remove it, or before it
    // wrote its number into it) does not keep the port.
    removeStalePortLock(s.device);
    if (m_port->open(QIODevice::ReadWrite)) {
        m_port->clear(QSerialPort::AllDirections);
        return true;
    }

    const QSerialPort::SerialPortError err = m_port->error();
    // The system's own words follow in parentheses: they name the exact cause.
    const QString detail = QStringLiteral(" (%1)").arg(systemReason(m_port->errorString()));
    switch (err) {
    case QSerialPort::DeviceNotFoundError:
        m_openError = OpenError::NotFound;
        m_openErrorText = strings::text(TextId::NoSuchDevice).arg(s.device) + detail;
        break;
    case QSerialPort::PermissionError:
        if (deviceAccessible(s.device)) {
            // Named where the system tells who holds it.
            m_openError = OpenError::Busy;
            const QList<PortHolder> holders = portHolders(s.device);
            m_openErrorText =
                holders.isEmpty()
                    ? strings::text(TextId::DeviceBusy).arg(s.device) + detail
                    : strings::text(TextId::DeviceHeldBy).arg(s.device, portHoldersText(holders));
        } else {
            m_openError = OpenError::PermissionDenied;
            m_openErrorText = strings::text(TextId::PermissionDenied).arg(s.device);
        }
        break;
    case QSerialPort::UnsupportedOperationError:
        m_openError = OpenError::BadSettings;
        m_openErrorText = strings::text(TextId::SettingsRefused).arg(s.device) + detail;
        break;
    default:
        m_openError = OpenError::Other;
        m_openErrorText = strings::text(TextId::OpenFailed).arg(s.device) + detail;
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
    const Blocking blocking(m_blocking);
    m_port->clear(QSerialPort::Input);
    m_port->readAll(); // also what QSerialPort had already buffered
    checkGone();
}

bool SerialTransport::write(const QByteArray& bytes, int waitMs) {
    if (!isOpen())
        return false;
    const Blocking blocking(m_blocking);
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
    const bool handedOver = m_port->bytesToWrite() == 0;
#ifdef Q_OS_UNIX
    // Handed to the driver is not yet on the wire: wait until the UART sent the last bit.
    if (handedOver)
        ::tcdrain(int(m_port->handle()));
#endif
    checkGone();
    return !m_gone && handedOver;
}

QByteArray SerialTransport::read(int waitMs) {
    if (!isOpen())
        return {};
    const Blocking blocking(m_blocking);
    if (m_port->bytesAvailable() == 0 && waitMs > 0)
        m_port->waitForReadyRead(waitMs);
    QByteArray bytes = m_port->readAll();
    checkGone();
    return bytes;
}

QByteArray SerialTransport::readNs(qint64 waitNs) {
    if (!isOpen())
        return {};
    const Blocking blocking(m_blocking);
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
