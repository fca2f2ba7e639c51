#include "comm/SerialComm.h"

#include "comm/Framing.h"
#include "comm/Numbers.h"
#include "comm/PortMap.h"
#include "comm/SerialTransport.h"

#include <algorithm>
#include <cmath>

namespace pmx {

namespace {

SerialComm::PortResolver defaultResolver() {
    return [](const QString& portName) {
        QSettingsStore store;
        return PortMap(store).resolve(portName);
    };
}

} // namespace

SerialComm::SerialComm(std::unique_ptr<ByteTransport> transport, PortResolver resolver)
    : m_transport(transport ? std::move(transport) : std::make_unique<SerialTransport>()),
      m_resolver(resolver ? std::move(resolver) : defaultResolver()) {}

SerialComm::~SerialComm() {
    m_transport->close();
}

void SerialComm::Activate(bool on) {
    m_active = on;
    if (!on)
        ClosePort();
}

bool SerialComm::OpenPort() {
    m_transport->close();
    m_openError = OpenError::None;
    m_openErrorText.clear();
    m_device.clear();

    const auto fail = [this](OpenError e, const QString& text) {
        m_openError = e;
        m_openErrorText = text;
        return false;
    };

    LineSettings s;
    const auto rate = toInt32Whole(Rate);
    if (!rate || *rate <= 0)
        return fail(OpenError::BadSettings,
                    QStringLiteral("Transfer rate \"%1\" is not a number.").arg(Rate));
    s.baudRate = *rate;
    const auto bits = toInt32Whole(DataBits);
    if (!bits || *bits < 5 || *bits > 8)
        return fail(OpenError::BadSettings,
                    QStringLiteral("Data bits \"%1\" are not 5 to 8.").arg(DataBits));
    s.dataBits = *bits;
    if (StopBits.trimmed() == QLatin1String("1"))
        s.stopBits = 1;
    else if (StopBits.trimmed() == QLatin1String("2"))
        s.stopBits = 2;
    else
        return fail(OpenError::BadSettings,
                    QStringLiteral("Stop bits \"%1\" are not 1 or 2.").arg(StopBits));
    const QString parity = Parity.trimmed().toUpper();
    if (parity == QLatin1String("NONE"))
        s.parity = 'N';
    else if (parity == QLatin1String("EVEN"))
        s.parity = 'E';
    else if (parity == QLatin1String("ODD"))
        s.parity = 'O';
    else
        return fail(OpenError::BadSettings,
                    QStringLiteral("Parity \"%1\" is not NONE, EVEN or ODD.").arg(Parity));

    s.device = m_resolver(PortName);
    if (s.device.isEmpty())
        return fail(OpenError::NotFound,
                    QStringLiteral("%1: no serial device found; connect the adapter or choose "
                                   "a device for %1 in the communication conditions.")
                        .arg(PortName));
    m_device = s.device;
    if (!m_transport->open(s))
        return fail(m_transport->lastOpenError(), m_transport->lastOpenErrorText());
    m_baud = s.baudRate;
    m_charBits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + s.stopBits;
    // Nothing is known of the line before we listened: the first RTU request waits a
    // whole silence.
    m_lastRxNs = m_transport->clockNs();
    return true;
}

void SerialComm::ClosePort() {
    m_transport->close();
}

bool SerialComm::isOpen() const {
    return m_transport->isOpen();
}

void SerialComm::PrepareA() {
    m_last = Exchange();
}

void SerialComm::PrepareB() {
    if (m_transport->isOpen())
        dropInput();
}

void SerialComm::dropInput() {
    // Dropped bytes were still traffic on the line: the RTU silence counts from them.
    if (!m_transport->readNs(0).isEmpty())
        m_lastRxNs = m_transport->clockNs();
    m_transport->discardInput();
}

qint64 SerialComm::rtuSilenceNs(qint32 baudRate, int bitsPerChar) {
    if (baudRate <= 0 || baudRate > 19200)
        return 1750000;
    return qint64(std::ceil(3.5 * std::max(bitsPerChar, 1) * 1e9 / baudRate));
}

bool SerialComm::waitRtuSilence(int limitMs) {
    // Frames are told apart by 3.5 characters of silence, counted from the last byte
    // received. Anything arriving meanwhile (the tail of an answer to an earlier request,
    // another station) is dropped, and the silence starts again from it.
    const qint64 quiet = rtuSilenceNs(m_baud, m_charBits);
    const qint64 giveUp = m_transport->clockNs() + qint64(limitMs) * 1000000;
    while (true) {
        const qint64 left = quiet - (m_transport->clockNs() - m_lastRxNs);
        const QByteArray late = m_transport->readNs(std::max<qint64>(left, 0));
        if (m_transport->deviceGone())
            return false;
        const qint64 now = m_transport->clockNs();
        if (!late.isEmpty()) {
            m_lastRxNs = now;
            if (now >= giveUp)
                return true; // a line that never rests: send anyway, the answer will tell
            continue;
        }
        if (now - m_lastRxNs >= quiet)
            return true;
    }
}

QByteArray SerialComm::SendCommand(QByteArray& address, QByteArray& subAddress,
                                   QByteArray& commandType, QByteArray& dataItem, QByteArray& data,
                                   qint16& retn) {
    m_last = Exchange();
    const qint16 protocol = ProtocolNo;
    const QByteArray request =
        framing::buildRequest(protocol, address, subAddress, commandType, dataItem, data);
    if (request.isEmpty())
        return {};
    auto assembler = framing::ResponseAssembler::forRequest(protocol, request);
    if (!assembler)
        return {};
    if (!m_transport->isOpen()) {
        m_last.deviceGone = m_transport->deviceGone();
        return {};
    }
    m_last.request = request;

    const int timeout = std::max<qint32>(Timeout, 1);
    // Time the request needs on the wire, plus a margin, before writing counts as failed.
    const int writeWait = int(request.size() * 11 * 1000 / std::max(m_baud, 1)) + timeout;
    const int attempts = std::clamp<int>(retn, 1, kMaxAttempts);
    const auto gone = [this]() {
        m_last.deviceGone = true;
        m_transport->close();
        return QByteArray();
    };

    QByteArray text;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        m_last.attempts = attempt;
        m_last.received.clear();
        dropInput();
        if (protocol == kProtocolModbusRtu && !waitRtuSilence(timeout))
            return gone();
        if (m_transport->deviceGone())
            return gone();
        if (!m_transport->write(request, writeWait))
            return m_transport->deviceGone() ? gone() : QByteArray();

        assembler->reset();
        const qint64 deadline = m_transport->clockMs() + timeout;
        auto status = framing::ResponseAssembler::Status::Pending;
        while (status == framing::ResponseAssembler::Status::Pending) {
            const qint64 left = deadline - m_transport->clockMs();
            if (left <= 0)
                break;
            const QByteArray bytes = m_transport->read(int(left));
            if (m_transport->deviceGone())
                return gone();
            if (!bytes.isEmpty()) {
                m_lastRxNs = m_transport->clockNs();
                m_last.received += bytes;
                status = assembler->feed(bytes);
            }
        }
        if (status == framing::ResponseAssembler::Status::Pending) {
            m_last.silent = true;
            return {}; // silence is not retried: it would only multiply the wait
        }
        text = assembler->text();
        const bool garbled = status == framing::ResponseAssembler::Status::Corrupt ||
                             (protocol == kProtocolKorvan && text.startsWith(framing::kEsc));
        if (!garbled)
            return text;
    }
    return text;
}

QByteArray SerialComm::ExtractData(const QByteArray& text, qint32 n) const {
    return framing::extractData(text, n);
}

} // namespace pmx
