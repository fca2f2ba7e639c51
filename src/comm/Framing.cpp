#include "comm/Framing.h"

#include "comm/Checksums.h"
#include "comm/Conditions.h"

#include <algorithm>

namespace pmx::framing {

QByteArray buildRequest(qint16 protocolNo, const QByteArray& address, const QByteArray& subAddress,
                        const QByteArray& commandType, const QByteArray& dataItem,
                        const QByteArray& data) {
    if (protocolNo == kProtocolKorvan)
        return korvanRequest(address, subAddress, commandType, dataItem, data);
    if (protocolNo != kProtocolModbusAscii && protocolNo != kProtocolModbusRtu)
        return {};
    const auto message = modbusMessage(address, commandType, dataItem, data);
    if (!message)
        return {};
    if (protocolNo == kProtocolModbusAscii)
        return modbusAsciiFrame(*message);
    if (!rtuFunctionSupported(quint8(message->at(1))))
        return {};
    return modbusRtuFrame(*message);
}

qsizetype maxResponseLength(qint16 protocolNo, const QByteArray& request) {
    if (protocolNo == kProtocolKorvan)
        return request.isEmpty() ? 0 : 15; // a read ACK with data is the longest
    std::optional<QByteArray> message;
    if (protocolNo == kProtocolModbusAscii && request.size() >= 9)
        message = checksum::decodeHexPairs(request.mid(1, request.size() - 5));
    else if (protocolNo == kProtocolModbusRtu && request.size() >= 4)
        message = request.left(request.size() - 2);
    if (!message || message->size() < 2)
        return 0;
    qsizetype pdu = 5; // function and four bytes: the echo of 05/06/0F/10
    if (quint8(message->at(1)) <= 0x04 && message->size() >= 6) {
        const int quantity = (quint8(message->at(4)) << 8) | quint8(message->at(5));
        pdu = std::max<qsizetype>(2 + 2 * quantity, 5); // function, byte count, data
    }
    const qsizetype binary = 1 + pdu + 2; // address, PDU, CRC (or LRC and a spare byte)
    return protocolNo == kProtocolModbusRtu ? binary : 1 + 2 * binary + 2;
}

QByteArray requestMessage(qint16 protocolNo, const QByteArray& frame) {
    if (protocolNo == kProtocolModbusRtu)
        return frame.size() >= 4 ? frame.left(frame.size() - 2) : QByteArray();
    if (protocolNo != kProtocolModbusAscii || frame.size() < 9 || frame[0] != ':')
        return {};
    return checksum::decodeHexPairs(frame.mid(1, frame.size() - 5)).value_or(QByteArray());
}

QByteArray modbusReadFrame(qint16 protocolNo, char station, int start, int count) {
    QByteArray message(1, station);
    message += char(0x03);
    message += char(start >> 8);
    message += char(start & 0xFF);
    message += char(count >> 8);
    message += char(count & 0xFF);
    return protocolNo == kProtocolModbusRtu ? modbusRtuFrame(message) : modbusAsciiFrame(message);
}

QByteArray narrowReadAnswer(const QByteArray& text, int offset, int count) {
    const auto frame = text.size() >= 11 && text[0] == ':'
                           ? checksum::decodeHexPairs(text.mid(1, text.size() - 3))
                           : std::nullopt;
    if (!frame || frame->size() < 4 || quint8(frame->at(1)) != 0x03 || offset < 0 || count < 1)
        return {};
    const qsizetype bytes = quint8(frame->at(2));
    if (frame->size() != 3 + bytes + 1 || 2 * (offset + count) > bytes)
        return {};
    QByteArray message = frame->left(2);
    message += char(2 * count);
    message += frame->mid(3 + 2 * offset, 2 * count);
    return modbusAsciiFrame(message);
}

QByteArray extractData(const QByteArray& text, qint32 n) {
    if (n < 1)
        return {};
    if (!text.isEmpty() && text[0] == kAck) {
        // ACK, address, sub-address, command type, item (4), data (4), ETX, BCC (2)
        if (n != 1 || text.size() != 15 || text[12] != kEtx)
            return {};
        return text.mid(8, 4);
    }
    if (text.size() >= 11 && text[0] == ':' && text.mid(3, 2) == "03") {
        const auto count = checksum::decodeHexPairs(text.mid(5, 2));
        if (!count)
            return {};
        const qsizetype registers = quint8(count->at(0)) / 2;
        if (n > registers)
            return {};
        const qsizetype at = 7 + 4 * qsizetype(n - 1);
        if (text.size() < at + 4)
            return {};
        return text.mid(at, 4);
    }
    return {};
}

ResponseAssembler::ResponseAssembler(qint16 protocolNo, char expectedAddress, quint8 function,
                                     QByteArray request)
    : m_protocol(protocolNo), m_address(expectedAddress), m_function(function),
      m_requestFrame(std::move(request)) {
    if (m_protocol == kProtocolKorvan)
        m_request = m_requestFrame;
    else if (m_protocol == kProtocolModbusRtu && m_requestFrame.size() >= 4)
        m_request = m_requestFrame.left(m_requestFrame.size() - 2);
    else if (m_protocol == kProtocolModbusAscii && m_requestFrame.size() >= 9)
        m_request = checksum::decodeHexPairs(m_requestFrame.mid(1, m_requestFrame.size() - 5))
                        .value_or(QByteArray());
    useOwnLedger();
}

std::optional<ResponseAssembler> ResponseAssembler::forRequest(qint16 protocolNo,
                                                               const QByteArray& request) {
    if (protocolNo == kProtocolKorvan) {
        if (request.size() < 2 || request[0] != kStx)
            return std::nullopt;
        return ResponseAssembler(protocolNo, request[1], 0, request);
    }
    if (protocolNo == kProtocolModbusAscii) {
        if (request.size() < 9 || request[0] != ':')
            return std::nullopt;
        const auto message =
            checksum::decodeHexPairs(request.mid(1, request.size() - 5)); // without LRC, CR LF
        if (!message || message->size() < 2)
            return std::nullopt;
        return ResponseAssembler(protocolNo, message->at(0), quint8(message->at(1)), request);
    }
    if (protocolNo == kProtocolModbusRtu) {
        if (request.size() < 4)
            return std::nullopt;
        return ResponseAssembler(protocolNo, request[0], quint8(request[1]), request);
    }
    return std::nullopt;
}

ResponseAssembler ResponseAssembler::forLine(qint16 protocolNo, char expectedAddress,
                                             AnswerLedger* ledger) {
    ResponseAssembler a(protocolNo, expectedAddress);
    a.setLine(ledger, 0);
    return a;
}

void ResponseAssembler::useOwnLedger() {
    // Only the request in hand is on the line, and the line does not echo.
    m_own = std::make_shared<AnswerLedger>();
    m_own->echo = AnswerLedger::Echo::No;
    m_current = 0;
    if (!m_requestFrame.isEmpty()) {
        m_current = 1;
        m_own->sent(m_protocol, m_requestFrame, m_current, 0);
    }
    m_ledger = m_own.get();
}

void ResponseAssembler::setLine(AnswerLedger* ledger, quint64 current) {
    if (!ledger) {
        useOwnLedger();
        return;
    }
    m_own.reset();
    m_ledger = ledger;
    m_current = current;
}

void ResponseAssembler::reset() {
    m_discardedFrames = 0;
    m_discardedBytes = 0;
    m_ambiguous = 0;
    m_malformed = false;
    m_echoBytes = 0;
    m_copySeen = false;
    m_echoTaken = false;
    m_heldText.clear();
    m_heldVerdict = Verdict::Malformed;
    m_lateNs = -1;
    m_buf.clear();
    m_bufTimes.clear();
    m_fed = 0;
    m_unfed = 0;
    m_bufStart = 0;
    m_prevRaw.clear();
    m_prevEnd = -1;
    m_echoAt = 0;
    m_etxPos = -1;
    m_status = Status::Pending;
    m_text.clear();
    if (m_own)
        useOwnLedger(); // a new attempt: the request in hand is unanswered again
}

void ResponseAssembler::clearCounts() {
    m_discardedFrames = 0;
    m_discardedBytes = 0;
    m_ambiguous = 0;
    m_echoBytes = 0;
    m_lateNs = -1;
}

ResponseAssembler::Status ResponseAssembler::feed(const QByteArray& bytes, qint64 nowNs) {
    if (m_status != Status::Pending)
        return m_status;
    m_nowNs = nowNs;
    m_unfed = 0;
    // One byte at a time, as if each arrived alone: how the port happens to split the
    // bytes into reads must never change which frame is taken or whether it is corrupt.
    for (qsizetype k = 0; k < bytes.size(); ++k) {
        const char b = bytes[k];
        if (m_protocol == kProtocolModbusRtu) {
            if (m_buf.isEmpty())
                m_bufStart = m_fed;
            m_buf += b;
            m_bufTimes += nowNs;
            ++m_fed;
            scanRtu();
        } else if (m_protocol == kProtocolKorvan) {
            watchKorvanEcho(b);
            feedKorvan(b);
            ++m_fed;
        } else {
            feedAscii(b);
            ++m_fed;
        }
        if (m_status != Status::Pending) {
            m_unfed = bytes.size() - k - 1;
            break; // anything after the frame is stale input for the next exchange
        }
    }
    return m_status;
}

void ResponseAssembler::followFrame(const QByteArray& raw) {
    m_prevRaw = raw;
    m_prevEnd = m_fed;
}

QByteArray ResponseAssembler::endingFrame() const {
    return m_fed == m_prevEnd && m_unfed == 0 ? m_prevRaw : QByteArray();
}

QByteArray ResponseAssembler::answerText(const QByteArray& frame) const {
    return m_protocol == kProtocolKorvan ? frame : modbusAsciiFrame(frame);
}

bool ResponseAssembler::settleFrame(const QByteArray& frame, const QByteArray& raw, qint64 start,
                                    qint64 startNs) {
    const bool repeat = start == m_prevEnd && raw == m_prevRaw;
    m_prevRaw = raw;
    m_prevEnd = start + raw.size();
    if (repeat) {
        ++m_discardedFrames;
        m_discardedBytes += raw.size();
        return false;
    }
    const AnswerLedger::Judgement j = m_ledger->judge(m_protocol, frame, m_current);
    switch (j.verdict) {
    case Verdict::Answer:
        // An answer with no copy of our request before it: the line does not echo.
        if (!m_copySeen && m_ledger->echo == AnswerLedger::Echo::Unknown)
            m_ledger->echo = AnswerLedger::Echo::No;
        if (!m_heldText.isEmpty()) {
            // A copy came first, then an answer: the copy was the echo (one request draws
            // one answer).
            m_ledger->echo = AnswerLedger::Echo::Yes;
            m_echoBytes += m_requestFrame.size();
            m_heldText.clear();
        }
        m_status = Status::Complete;
        m_text = answerText(frame);
        return true;
    case Verdict::Stale:
        if (j.sentNs >= 0 && startNs >= 0)
            m_lateNs = std::max(m_lateNs, startNs - j.sentNs);
        ++m_discardedFrames;
        m_discardedBytes += raw.size();
        return false;
    case Verdict::Ambiguous:
        ++m_ambiguous;
        ++m_discardedFrames;
        m_discardedBytes += raw.size();
        return false;
    case Verdict::Malformed:
        if (m_current == 0)
            return false; // between exchanges nobody waits for it
        m_malformed = true;
        m_status = Status::Corrupt;
        if (m_protocol == kProtocolKorvan)
            m_text = QByteArray(1, kEsc) + frame.mid(1); // reported as a checksum error
        return true;
    }
    return false;
}

bool ResponseAssembler::copyOfRequest(const QByteArray& message, qint64 start, qint64 startNs) {
    m_copySeen = true;
    const qsizetype raw = m_requestFrame.size();
    // A copy of our request ends what a repeat could follow (a write's echo and its answer
    // are alike, back to back).
    m_prevRaw.clear();
    m_prevEnd = start + raw;
    const bool mayAnswer = m_protocol != kProtocolKorvan && m_function == 0x06;
    if (!mayAnswer) {
        // A request is never an answer to itself: the line echoes.
        m_ledger->echo = AnswerLedger::Echo::Yes;
        m_echoBytes += raw;
        return false;
    }
    switch (m_ledger->echo) {
    case AnswerLedger::Echo::Yes:
        if (!m_echoTaken) { // the first copy is the echo, a later one the answer
            m_echoTaken = true;
            m_echoBytes += raw;
            return false;
        }
        break;
    case AnswerLedger::Echo::Unknown:
        if (m_heldText.isEmpty()) {
            m_heldText = answerText(message);
            m_heldVerdict = m_ledger->peek(m_protocol, message, m_current);
            return false;
        }
        // A second copy: the first was the echo, this one is an answer.
        m_ledger->echo = AnswerLedger::Echo::Yes;
        m_echoTaken = true;
        m_echoBytes += raw;
        m_heldText.clear();
        break;
    case AnswerLedger::Echo::No:
        break;
    }
    return settleFrame(message, m_requestFrame, start, startNs);
}

} // namespace pmx::framing
