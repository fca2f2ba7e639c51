#include "comm/SerialComm.h"

#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"
#include "comm/PortMap.h"
#include "comm/SerialTransport.h"
#include "comm/TcpTransport.h"
#include "text/StringTable.h"

#include <QDateTime>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>

namespace pmx {

Q_LOGGING_CATEGORY(lcComm, "pmx.comm", QtWarningMsg)

namespace {

SerialComm::PortResolver defaultResolver() {
    return [](const QString& portName) {
        QSettingsStore store;
        return PortMap(store).resolve(portName);
    };
}

} // namespace

SerialComm::SerialComm(std::unique_ptr<ByteTransport> transport, PortResolver resolver)
    : m_chooseTransport(!transport),
      m_transport(transport ? std::move(transport) : std::make_unique<SerialTransport>()),
      m_resolver(resolver ? std::move(resolver) : defaultResolver()) {
    m_transport->setGoneHandler([this] { onTransportGone(); });
}

void SerialComm::useTransportFor(const QString& device) {
    const bool network = TcpTransport::isNetworkAddress(device);
    if (!m_chooseTransport || network == m_transport->isNetwork())
        return;
    m_transport->close();
    if (network)
        m_transport = std::make_unique<TcpTransport>();
    else
        m_transport = std::make_unique<SerialTransport>();
    m_transport->setGoneHandler([this] { onTransportGone(); });
}

void SerialComm::onTransportGone() {
    if (m_lost)
        return;
    m_lost = true;
    m_lostDevice = m_device;
    if (!m_inExchange && m_lostHandler)
        m_lostHandler();
}

QByteArray SerialComm::lose() {
    m_last.deviceGone = true;
    m_transport->close();
    if (!m_lost) {
        m_lost = true;
        m_lostDevice = m_device;
    }
    return {};
}

SerialComm::~SerialComm() {
    m_transport->close();
}

void SerialComm::activate(bool on) {
    m_active = on;
    if (!on)
        closePort();
}

bool SerialComm::openPort() {
    m_transport->close();
    m_blockMemory = BlockMemory(); // another port, or the same one after a loss: learn anew
    m_openError = OpenError::None;
    m_openErrorText.clear();
    m_device.clear();
    m_lost = false;
    m_lostDevice.clear();
    m_answerMissing = false;
    m_turnaroundEndNs = 0;

    const auto fail = [this](OpenError e, const QString& text) {
        m_openError = e;
        m_openErrorText = text;
        return false;
    };

    const Conditions& c = m_conditions;
    const auto refused = [&](const QString& value) {
        return fail(OpenError::BadSettings,
                    strings::text(TextId::ConditionsInvalid) + QStringLiteral(" (%1)").arg(value));
    };
    LineSettings s;
    if (c.rate <= 0)
        return refused(QString::number(c.rate));
    s.baudRate = c.rate;
    if (c.dataBits < 5 || c.dataBits > 8)
        return refused(QString::number(c.dataBits));
    s.dataBits = c.dataBits;
    if (c.stopBits != 1 && c.stopBits != 2)
        return refused(QString::number(c.stopBits));
    s.stopBits = c.stopBits;
    if (c.parity != Parity::None && c.parity != Parity::Even && c.parity != Parity::Odd)
        return refused(QString(QLatin1Char(char(c.parity))));
    s.parity = char(c.parity);

    s.device = m_resolver(c.port);
    if (s.device.isEmpty())
        return fail(OpenError::NotFound, strings::text(TextId::NoSerialDevice).arg(c.port));
    m_device = s.device;
    useTransportFor(s.device);
    if (!m_transport->open(s))
        return fail(m_transport->lastOpenError(), m_transport->lastOpenErrorText());
    m_baud = s.baudRate;
    m_charBits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + s.stopBits;
    // Nothing is known of the line before we listened: the first RTU request waits a
    // whole silence.
    m_lastRxNs = m_transport->clockNs();
    return true;
}

void SerialComm::closePort() {
    m_transport->close();
}

bool SerialComm::isOpen() const {
    return m_transport->isOpen();
}

void SerialComm::resetExchange() {
    m_last = Exchange();
}

void SerialComm::dropStaleInput() {
    if (m_transport->isOpen())
        dropInput();
}

void SerialComm::dropInput() {
    // Dropped bytes were still traffic on the line: the quiet counts from them.
    const QByteArray stale = m_transport->readNs(0);
    if (!stale.isEmpty()) {
        m_lastRxNs = m_transport->clockNs();
        m_last.discardedBytes += stale.size();
    }
    m_transport->discardInput();
}

qint64 SerialComm::rtuSilenceNs(qint32 baudRate, int bitsPerChar) {
    if (baudRate <= 0 || baudRate > 19200)
        return 1750000;
    return qint64(std::ceil(3.5 * std::max(bitsPerChar, 1) * 1e9 / baudRate));
}

bool SerialComm::waitQuietLine(int timeoutMs) {
    const qint64 rtuQuiet = m_conditions.protocol == kProtocolModbusRtu && !m_transport->isNetwork()
                                ? rtuSilenceNs(m_baud, m_charBits)
                                : 0;
    const qint64 lateQuiet = m_answerMissing ? qint64(timeoutMs) * 1000000 : 0;
    const qint64 start = m_transport->clockNs();
    // A line that never rests (another master, a babbling device): send anyway after
    // this long; the answer's echo and address still guard the value.
    const qint64 giveUp = start + lateQuiet + qint64(timeoutMs) * 3000000;
    while (true) {
        const qint64 now = m_transport->clockNs();
        const qint64 left = std::max({rtuQuiet - (now - m_lastRxNs),
                                      lateQuiet - (now - std::max(m_exchangeEndNs, m_lastRxNs)),
                                      m_turnaroundEndNs - now});
        if (left <= 0)
            break;
        const QByteArray late = m_transport->readNs(left);
        if (m_transport->deviceGone())
            return false;
        if (!late.isEmpty()) {
            // The tail of an earlier answer, or another station's traffic: dropped, and
            // the quiet starts again from it.
            m_lastRxNs = m_transport->clockNs();
            m_last.discardedBytes += late.size();
            if (m_lastRxNs >= giveUp)
                break;
        }
    }
    m_answerMissing = false;
    return true;
}

QByteArray SerialComm::sendCommand(QByteArray& address, QByteArray& subAddress,
                                   QByteArray& commandType, QByteArray& dataItem, QByteArray& data,
                                   qint16& maxSends) {
    m_last = Exchange();
    const qint16 protocol = m_conditions.protocol;
    const QByteArray request =
        framing::buildRequest(protocol, address, subAddress, commandType, dataItem, data);
    if (request.isEmpty())
        return {};
    if (!framing::ResponseAssembler::forRequest(protocol, request))
        return {};
    if (!m_transport->isOpen()) {
        // Nothing goes out; only a lost device is worth a record.
        m_last.deviceGone = m_transport->deviceGone() || m_lost;
        if (m_last.deviceGone)
            notifyObservers(request, {}, QDateTime::currentMSecsSinceEpoch(),
                            m_transport->clockNs());
        return {};
    }
    const qint64 wallMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 startNs = m_transport->clockNs();
    const QByteArray text = exchange(request, maxSends);
    notifyObservers(request, text, wallMs, startNs);
    return text;
}

void SerialComm::notifyObservers(const QByteArray& request, const QByteArray& text, qint64 wallMs,
                                 qint64 startNs) {
    const bool traced = lcComm().isDebugEnabled();
    if (m_observers.empty() && !traced)
        return;
    ExchangeRecord r;
    r.timeMs = wallMs;
    r.protocol = m_conditions.protocol;
    r.request = request;
    r.answer = m_last.received;
    r.outcome = classifyExchange(r.protocol, text, m_last.silent, m_last.deviceGone,
                                 m_last.broadcast, m_last.discardedFrames, &r.refusalCode);
    r.attempts = std::max(m_last.attempts, 1);
    r.discardedFrames = m_last.discardedFrames;
    r.discardedBytes = m_last.discardedBytes;
    // From the last request leaving until the wait ended; from the start when it never
    // left (a lost device).
    const qint64 from = m_last.sentNs > 0 ? m_last.sentNs : startNs;
    r.roundTripMs = double(std::max<qint64>(m_transport->clockNs() - from, 0)) / 1e6;
    for (ExchangeObserver* o : m_observers)
        o->exchanged(r);
    if (traced)
        qCDebug(lcComm).noquote() << traceLine(r);
}

QByteArray SerialComm::exchange(const QByteArray& request, qint16& maxSends) {
    const qint16 protocol = m_conditions.protocol;
    auto assembler = framing::ResponseAssembler::forRequest(protocol, request);
    m_last.request = request;
    m_inExchange = true;
    struct ExchangeSpan {
        bool& flag;
        ~ExchangeSpan() { flag = false; }
    } span{m_inExchange};

    const bool modbus = protocol != kProtocolKorvan;
    const bool broadcast =
        modbus && (protocol == kProtocolModbusRtu ? request[0] == 0 : request.mid(1, 2) == "00");
    const int timeout = std::max<qint32>(m_conditions.timeoutMs, 1);
    const qint64 charNs = qint64(m_charBits) * 1000000000 / std::max(m_baud, 1);
    // Time the request needs on the wire, plus a margin, before writing counts as failed.
    const int writeWait = int(request.size() * charNs / 1000000) + timeout;
    // Once an answer has begun, the longest answer's own wire time to finish.
    const qint64 answerWireMs =
        framing::maxResponseLength(protocol, request) * charNs / 1000000 + kAnswerMarginMs;
    const int attempts = std::clamp<int>(maxSends, 1, kMaxAttempts);

    QByteArray text;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        m_last.attempts = attempt;
        m_last.received.clear();
        dropInput();
        if (modbus && !waitQuietLine(timeout))
            return lose();
        if (m_transport->deviceGone())
            return lose();
        m_last.sentNs = 0;
        if (!m_transport->write(request, writeWait)) {
            if (m_transport->deviceGone())
                return lose();
            m_last.silent = true; // the request never left: nothing can have answered
            return {};
        }
        m_last.sentNs = m_transport->clockNs();
        if (broadcast) {
            m_last.broadcast = true;
            m_turnaroundEndNs = m_transport->clockNs() + qint64(kBroadcastTurnaroundMs) * 1000000;
            return {};
        }

        assembler->reset();
        const qint64 sentMs = m_transport->clockMs();
        qint64 deadline = sentMs + timeout;
        // However the bytes dribble in, the wait stays bounded.
        const qint64 hardLimit = sentMs + 2 * qint64(timeout) + answerWireMs;
        auto status = framing::ResponseAssembler::Status::Pending;
        while (status == framing::ResponseAssembler::Status::Pending) {
            const qint64 left = deadline - m_transport->clockMs();
            if (left <= 0)
                break;
            const QByteArray bytes = m_transport->read(int(left));
            if (m_transport->deviceGone())
                return lose();
            if (!bytes.isEmpty()) {
                m_lastRxNs = m_transport->clockNs();
                m_last.received += bytes;
                status = assembler->feed(bytes);
                if (assembler->buffered() > 0)
                    deadline = std::min(hardLimit,
                                        std::max(deadline, m_transport->clockMs() + answerWireMs));
            }
        }
        m_last.discardedFrames += assembler->discardedFrames();
        m_last.discardedBytes += assembler->discardedBytes();
        m_exchangeEndNs = m_transport->clockNs();
        if (status == framing::ResponseAssembler::Status::Pending) {
            m_last.silent = true;
            m_answerMissing = modbus;
            return {}; // silence is not retried: it would only multiply the wait
        }
        text = assembler->text();
        const bool garbled = status == framing::ResponseAssembler::Status::Corrupt ||
                             (protocol == kProtocolKorvan && text.startsWith(framing::kEsc));
        if (!garbled)
            return text;
        // A garbled Modbus frame names nothing reliably: whatever it was, let the line
        // settle before the next request.
        m_answerMissing = modbus;
    }
    return text;
}

QByteArray SerialComm::extractData(const QByteArray& text, qint32 n) const {
    return framing::extractData(text, n);
}

} // namespace pmx
