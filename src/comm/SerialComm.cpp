#include "comm/SerialComm.h"

#include "comm/CommandFields.h"
#include "comm/ExchangeRecord.h"
#include "comm/Framing.h"
#include "comm/PortMap.h"
#include "comm/SerialTransport.h"
#include "comm/TcpTransport.h"
#include "model/ItemTable.h"
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
    m_lateMs = -1;
    m_lateTold = false;
    m_lineEchoes = false; // said of an open line only

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
    startLine(QStringLiteral("%1|%2|%3|%4|%5%6%7")
                  .arg(s.device)
                  .arg(c.protocol)
                  .arg(c.instrument)
                  .arg(s.baudRate)
                  .arg(s.dataBits)
                  .arg(QLatin1Char(s.parity))
                  .arg(s.stopBits),
              s.device);
    m_lineEchoes = m_ledger.echo == framing::AnswerLedger::Echo::Yes;
    m_baud = s.baudRate;
    m_charBits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + s.stopBits;
    // Nothing is known of the line before we listened: the first RTU request waits a
    // whole silence.
    m_lastRxNs = m_transport->clockNs();
    return true;
}

void SerialComm::startLine(const QString& line, const QString& device) {
    // The same device at the same settings is the same line: what was asked on it before
    // can still be answered. Other settings make the instrument deaf to what was sent
    // before them; another device is another line altogether.
    if (line != m_line) {
        m_ledger.clear();
        m_windowsOff = false;
        m_windowMissed = 0;
    }
    m_line = line;
    m_lastFrame.clear(); // what the line carried before the port was opened is gone
    if (device != m_echoDevice) {
        m_ledger.echo = framing::AnswerLedger::Echo::Unknown;
        m_lineEchoes = false;
        m_echoProbed = false;
        m_echoDevice = device;
    }
    m_between.reset();
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
    const qint64 before = m_lastRxNs;
    const QByteArray stale = m_transport->readNs(0);
    if (!stale.isEmpty()) {
        const qint64 now = m_transport->clockNs();
        // When they came is known closely enough only right after the line was last heard.
        judgeStale(stale, now - before <= kStaleTimingNs ? now : -1);
        m_lastRxNs = now;
        m_last.discardedBytes += stale.size();
    }
    m_transport->discardInput();
}

void SerialComm::judgeStale(const QByteArray& bytes, qint64 arrivedNs) {
    if (!m_between) {
        if (m_codec)
            m_between = m_codec->lineAssembler(m_conditions.instrument, &m_ledger);
        if (!m_between)
            return;
        m_between->followFrame(m_lastFrame);
    }
    m_between->feed(bytes, arrivedNs);
    m_lastFrame = m_between->endingFrame();
    if (m_between->lateNs() >= 0)
        noteLate(m_between->lateNs());
    // Only the counts and the lateness matter between exchanges; the frame under way goes on.
    m_between->clearCounts();
}

void SerialComm::noteLate(qint64 lateNs) {
    const double ms = double(lateNs) / 1e6;
    // Only what came after its time-out: a retry's answer to an earlier attempt is not late.
    if (ms <= m_conditions.timeoutMs)
        return;
    m_last.lateMs = std::max(m_last.lateMs, ms);
    m_lateMs = std::max(m_lateMs, int(std::ceil(ms)));
}

qint64 SerialComm::rtuSilenceNs(qint32 baudRate, int bitsPerChar) {
    return codecFor(kProtocolModbusRtu)->frameGapNs(baudRate, bitsPerChar);
}

bool SerialComm::waitQuietLine(int timeoutMs) {
    const qint64 rtuQuiet = m_transport->isNetwork() ? 0 : m_codec->frameGapNs(m_baud, m_charBits);
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
            // The tail of an earlier answer, or another station's traffic: judged (a late
            // answer settles its request), dropped, and the quiet starts again from it.
            m_lastRxNs = m_transport->clockNs();
            judgeStale(late, m_lastRxNs);
            m_last.discardedBytes += late.size();
            if (m_lastRxNs >= giveUp)
                break;
        }
    }
    m_answerMissing = false;
    return true;
}

ExchangeResult SerialComm::sendCommand(const Request& r) {
    m_last = Exchange();
    const QByteArray request = m_codec ? m_codec->frame(r) : QByteArray();
    if (request.isEmpty() || !m_codec->answerAssembler(request))
        return {};
    if (!m_transport->isOpen()) {
        // Nothing goes out; only a lost device is worth a record.
        m_last.deviceGone = m_transport->deviceGone() || m_lost;
        const ExchangeResult result = judged(r, {});
        if (m_last.deviceGone)
            notifyObservers(request, result, QDateTime::currentMSecsSinceEpoch(),
                            m_transport->clockNs());
        return result;
    }
    const qint64 wallMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 startNs = m_transport->clockNs();
    const ExchangeResult result = judged(r, exchange(request, r.maxSends));
    notifyObservers(request, result, wallMs, startNs);
    return result;
}

ExchangeResult SerialComm::judged(const Request& r, const QByteArray& text) const {
    ExchangeResult result;
    result.text = text;
    result.received = m_last.received;
    result.echoBytes = m_last.echoBytes;
    result.discardedFrames = m_last.discardedFrames;
    if (m_last.deviceGone)
        result.outcome = ExchangeOutcome::DeviceLost;
    else if (m_last.broadcast)
        result.outcome = ExchangeOutcome::Broadcast;
    else if (text.isEmpty() && m_last.silent)
        result.outcome =
            m_last.discardedFrames > 0 ? ExchangeOutcome::Stale : ExchangeOutcome::NoAnswer;
    else if (text.isEmpty())
        result.outcome = ExchangeOutcome::ChecksumError; // a frame came, but not a usable one
    else
        result.outcome = m_codec->judge(text, r.command, &result.refusalCode);
    return result;
}

void SerialComm::notifyObservers(const QByteArray& request, const ExchangeResult& result,
                                 qint64 wallMs, qint64 startNs) {
    const bool traced = lcComm().isDebugEnabled();
    if (m_observers.empty() && !traced)
        return;
    ExchangeRecord r;
    r.timeMs = wallMs;
    r.protocol = m_conditions.protocol;
    // What went out last: a window read, or the request as asked.
    r.request = m_last.request.isEmpty() ? request : m_last.request;
    r.answer = m_last.received;
    r.outcome = result.outcome;
    r.refusalCode = result.refusalCode;
    r.attempts = std::max(m_last.attempts, 1);
    r.discardedFrames = m_last.discardedFrames;
    r.discardedBytes = m_last.discardedBytes;
    r.echoBytes = m_last.echoBytes;
    r.lateMs = m_last.lateMs;
    // From the last request leaving until the wait ended; from the start when it never
    // left (a lost device).
    const qint64 from = m_last.sentNs > 0 ? m_last.sentNs : startNs;
    r.roundTripMs = double(std::max<qint64>(m_transport->clockNs() - from, 0)) / 1e6;
    for (ExchangeObserver* o : m_observers)
        o->exchanged(r);
    if (traced)
        qCDebug(lcComm).noquote() << traceLine(r);
}

std::optional<framing::AnswerLedger::Window>
SerialComm::provableWindow(const QByteArray& request) const {
    if (m_windowsOff)
        return std::nullopt;
    // No larger count than the instrument is known to take.
    const int maxCount = std::min(kMaxReadCount, m_blockMemory.smallestRefused - 1);
    return m_codec->provableWindow(m_ledger, request, maxCount);
}

SerialComm::Sent SerialComm::attempt(const QByteArray& request, quint64 id, bool broadcast,
                                     int timeoutMs) {
    const qint16 protocol = m_conditions.protocol;
    m_last.received.clear();
    m_last.echoBytes = 0;
    m_last.request = request;
    dropInput();
    if ((m_codec->waitsForQuietLine() || m_answerMissing) && !waitQuietLine(timeoutMs))
        return Sent::Lost;
    if (m_transport->deviceGone())
        return Sent::Lost;
    const qint64 charNs = qint64(m_charBits) * 1000000000 / std::max(m_baud, 1);
    // Time the request needs on the wire, plus a margin, before writing counts as failed.
    const int writeWait = int(request.size() * charNs / 1000000) + timeoutMs;
    m_last.sentNs = 0;
    if (!m_transport->write(request, writeWait))
        return m_transport->deviceGone() ? Sent::Lost : Sent::NotWritten;
    m_last.sentNs = m_transport->clockNs();
    // What comes from now on may be this request's answer (a frame like the last one is
    // no repeat of it now: a request went out between them).
    m_between.reset();
    m_lastFrame.clear();
    if (broadcast)
        return Sent::Written; // never answered: not kept on the ledger
    m_ledger.sent(protocol, request, id, m_last.sentNs);

    // Once an answer has begun, the longest answer's own wire time to finish.
    const qint64 answerWireMs =
        m_codec->longestAnswer(request) * charNs / 1000000 + kAnswerMarginMs;
    m_assembler = m_codec->answerAssembler(request);
    framing::ResponseAssembler& assembler = *m_assembler;
    assembler.setLine(&m_ledger, id);
    const qint64 sentMs = m_transport->clockMs();
    qint64 deadline = sentMs + timeoutMs;
    // However the bytes dribble in, the wait stays bounded.
    const qint64 hardLimit = sentMs + 2 * qint64(timeoutMs) + answerWireMs;
    auto status = framing::ResponseAssembler::Status::Pending;
    while (status == framing::ResponseAssembler::Status::Pending) {
        const qint64 left = deadline - m_transport->clockMs();
        if (left <= 0)
            break;
        const QByteArray bytes = m_transport->read(int(left));
        if (m_transport->deviceGone())
            return Sent::Lost;
        if (!bytes.isEmpty()) {
            m_lastRxNs = m_transport->clockNs();
            m_last.received += bytes;
            status = assembler.feed(bytes, m_lastRxNs);
            if (assembler.buffered() > 0)
                deadline =
                    std::min(hardLimit, std::max(deadline, m_transport->clockMs() + answerWireMs));
        }
    }
    m_last.discardedFrames += assembler.discardedFrames();
    m_last.discardedBytes += assembler.discardedBytes();
    m_last.echoBytes = assembler.echoBytes();
    m_lastFrame = assembler.endingFrame();
    if (assembler.lateNs() >= 0)
        noteLate(assembler.lateNs());
    m_lineEchoes = m_ledger.echo == framing::AnswerLedger::Echo::Yes;
    m_exchangeEndNs = m_transport->clockNs();
    return Sent::Written;
}

bool SerialComm::copyWasAnswer(const QByteArray& write, quint64 id) {
    m_echoProbed = true;
    const QByteArray probe = m_codec->echoProbe(write);
    if (probe.isEmpty())
        return false;
    // Its own exchange, told to the observers as every exchange on the line is.
    const Exchange outer = m_last;
    m_last = Exchange();
    const qint64 wallMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 startNs = m_transport->clockNs();
    qint16 once = 1;
    const QByteArray text = exchange(probe, once);
    notifyObservers(probe, judged(Request::read(0, {}), text), wallMs, startNs);
    const bool lost = m_last.deviceGone;
    m_last = outer;
    m_last.deviceGone = lost;
    if (lost || m_ledger.echo != framing::AnswerLedger::Echo::No)
        return false; // it echoes (the copy was the echo), or it is still not known
    m_ledger.settleThrough(id);
    return true;
}

QByteArray SerialComm::exchange(const QByteArray& asked, qint16 maxSends) {
    const Codec& codec = *m_codec;
    const bool broadcast = codec.isBroadcast(asked);
    const bool wasInExchange = m_inExchange;
    m_inExchange = true;
    struct ExchangeSpan {
        bool& flag;
        bool before;
        ~ExchangeSpan() { flag = before; }
    } span{m_inExchange, wasInExchange};

    const int timeout = std::max<qint32>(m_conditions.timeoutMs, 1);
    int attempts = std::clamp<int>(maxSends, 1, kMaxAttempts);
    quint64 id = ++m_requestIds;
    QByteArray request = asked;
    std::optional<framing::AnswerLedger::Window> window;
    quint64 trialAfter = 0; // a window read that went unanswered, when this one is sent as asked
    if (!broadcast) {
        window = provableWindow(asked);
        if (window && m_windowMissed != 0 && !m_ledger.answered(m_windowMissed)) {
            // The last window read went unanswered: this one goes as asked, to learn
            // whether the instrument ignores windows.
            window.reset();
            trialAfter = m_windowMissed;
        }
        m_windowMissed = 0;
        if (window)
            request = codec.windowFrame(asked, *window);
    }

    QByteArray text;
    for (int n = 1; n <= attempts; ++n) {
        m_last.attempts = n;
        const Sent sent = attempt(request, id, broadcast, timeout);
        if (sent == Sent::Lost)
            return lose();
        if (sent == Sent::NotWritten) {
            m_last.silent = true; // the request never left: nothing can have answered
            return {};
        }
        if (broadcast) {
            m_last.broadcast = true;
            m_turnaroundEndNs = m_transport->clockNs() + qint64(kBroadcastTurnaroundMs) * 1000000;
            return {};
        }
        const framing::ResponseAssembler& a = *m_assembler;
        using Status = framing::ResponseAssembler::Status;
        // Answers to earlier requests came: the instrument is behind. Let them all come
        // before the next request, or each would come in the next one's time.
        if (a.discardedFrames() > 0)
            m_answerMissing = true;
        if (a.status() == Status::Complete) {
            text = a.text();
            if (codec.asksAgain(text))
                continue; // the instrument got our request garbled: send it again
            if (window) {
                if (codec.isRefusal(text)) {
                    // The window was refused: perhaps its count or a register around those
                    // asked, never for certain the item's own. Ask as the caller did.
                    if (codec.refusesCount(text))
                        m_blockMemory.smallestRefused =
                            std::min(m_blockMemory.smallestRefused, window->count);
                    window.reset();
                    request = asked;
                    id = ++m_requestIds;
                    attempts = std::max(attempts, n + 1);
                    continue;
                }
                text = codec.narrowAnswer(text, window->offset, codec.readCount(asked));
            }
            if (trialAfter != 0 && !m_ledger.answered(trialAfter)) {
                // Answered as asked where the window was not: windows are not asked again.
                m_windowsOff = true;
            }
            return text;
        }
        if (a.status() == Status::Corrupt) {
            text = a.text();
            // A garbled frame names nothing reliably: let the line settle before the next
            // request. A well-formed frame that answers nothing left the line quiet.
            if (codec.missLeavesAnswerOwed() && !a.malformed())
                m_answerMissing = true;
            continue;
        }
        // No answer of its own within the time-out.
        const bool ambiguous = a.ambiguousFrames() > 0;
        if (a.holdsCopy() && m_ledger.echo == framing::AnswerLedger::Echo::Unknown &&
            !m_echoProbed && a.heldVerdict() == framing::Verdict::Answer) {
            const QByteArray held = a.heldText(); // the read below has an assembler of its own
            if (copyWasAnswer(request, id))
                return held;
            if (m_last.deviceGone)
                return lose();
        }
        if (ambiguous && n < attempts)
            continue; // what comes next can only be this request's answer
        m_last.silent = true;
        if (codec.missLeavesAnswerOwed())
            m_answerMissing = true;
        if (window)
            m_windowMissed = id;
        return {}; // silence is not retried: it would only multiply the wait
    }
    return text;
}

QByteArray SerialComm::extractData(const QByteArray& text, qint32 n) const {
    return m_codec ? m_codec->extractData(text, n) : QByteArray();
}

} // namespace pmx
