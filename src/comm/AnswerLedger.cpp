#include "comm/AnswerLedger.h"

#include "comm/Checksums.h"
#include "comm/CommObject.h"
#include "comm/Framing.h"

#include <algorithm>

namespace pmx::framing {

namespace {

int word(const QByteArray& b, qsizetype at) {
    return (quint8(b[at]) << 8) | quint8(b[at + 1]);
}

// The Modbus message (address, function, data) of a request frame; empty when it is none.
QByteArray modbusRequestMessage(qint16 protocol, const QByteArray& frame) {
    if (protocol == kProtocolModbusRtu)
        return frame.size() >= 4 ? frame.left(frame.size() - 2) : QByteArray();
    if (frame.size() < 9 || frame[0] != ':')
        return {};
    const QByteArray hex = frame.mid(1, frame.size() - 5); // without LRC, CR LF
    QByteArray out;
    for (qsizetype i = 0; i + 1 < hex.size(); i += 2) {
        const int hi = checksum::hexDigitValue(hex[i]);
        const int lo = checksum::hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return {};
        out += char((hi << 4) | lo);
    }
    return out;
}

} // namespace

void AnswerLedger::clear() {
    m_entries.clear();
}

void AnswerLedger::sent(qint16 protocol, const QByteArray& frame, quint64 request, qint64 sentNs) {
    Entry e;
    e.protocol = protocol;
    e.request = request;
    e.sentNs = sentNs;
    if (protocol == kProtocolKorvan) {
        // STX, address, sub-address, command type, item (4), data, ETX, BCC
        if (frame.size() < 8)
            return;
        e.address = frame[1];
        e.function = quint8(frame[3]);
        e.key = frame.mid(3, 5);
    } else {
        const QByteArray m = modbusRequestMessage(protocol, frame);
        if (m.size() < 2)
            return;
        e.address = m[0];
        e.function = quint8(m[1]);
        if (e.function == 0x03 && m.size() >= 6)
            e.count = word(m, 4);
        e.key = m;
    }
    m_entries.append(e);
    // No instrument keeps requests waiting by the thousand: the oldest go, so that a day
    // of a silent line costs bounded memory.
    if (m_entries.size() > kMaxEntries)
        m_entries.removeFirst();
}

QList<qsizetype> AnswerLedger::candidates(qint16 protocol, const QByteArray& frame,
                                          bool* layoutOk) const {
    *layoutOk = true;
    QList<qsizetype> out;
    if (protocol == kProtocolKorvan) {
        // lead, address, sub-address, command type, item (4), data or code, ETX, BCC (2)
        if (frame.size() < 11) {
            *layoutOk = false;
            return out;
        }
        const qsizetype body = frame.size() - 4;
        const QByteArray key = frame.mid(3, 5);
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            const Entry& e = m_entries[i];
            if (e.protocol != protocol || e.address != frame[1] || e.key != key)
                continue;
            // A read is acknowledged with its data, a write without.
            if (frame[0] == kAck &&
                ((e.function == ' ' && body != 11) || (e.function == 'P' && body != 7)))
                continue;
            out << i;
        }
        return out;
    }
    if (frame.size() < 3) {
        *layoutOk = false;
        return out;
    }
    const quint8 function = quint8(frame[1]);
    if (function & 0x80) {
        *layoutOk = frame.size() == 3; // address, function, exception code
    } else if (function == 0x03) {
        const int bytes = quint8(frame[2]);
        *layoutOk = frame.size() == 3 + bytes && bytes % 2 == 0;
    } else if (function == 0x06) {
        *layoutOk = frame.size() == 6;
    }
    if (!*layoutOk)
        return out;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.protocol != protocol || e.address != frame[0])
            continue;
        bool match = false;
        if (function & 0x80)
            match = e.function == (function & 0x7F); // an exception names only the function
        else if (function == 0x03)
            match = e.function == 0x03 && 2 * e.count == quint8(frame[2]);
        else if (function == 0x06)
            match = e.function == 0x06 && e.key == frame;
        if (match)
            out << i;
    }
    return out;
}

Verdict AnswerLedger::verdictFor(const QList<qsizetype>& matches, quint64 current,
                                 qsizetype* settleTo) const {
    // The request in hand went out last, so its attempts are the newest entries.
    qsizetype firstOther = -1, firstCurrent = -1;
    for (qsizetype i : matches) {
        const bool ours = current != 0 && m_entries[i].request == current;
        if (ours && firstCurrent < 0)
            firstCurrent = i;
        if (!ours && firstOther < 0)
            firstOther = i;
    }
    if (firstOther < 0) {
        *settleTo = firstCurrent;
        return firstCurrent < 0 ? Verdict::Malformed : Verdict::Answer;
    }
    *settleTo = firstOther;
    return firstCurrent < 0 ? Verdict::Stale : Verdict::Ambiguous;
}

Verdict AnswerLedger::peek(qint16 protocol, const QByteArray& frame, quint64 current) const {
    bool layoutOk = true;
    const QList<qsizetype> matches = candidates(protocol, frame, &layoutOk);
    if (!layoutOk)
        return Verdict::Malformed;
    qsizetype settleTo = -1;
    return verdictFor(matches, current, &settleTo);
}

AnswerLedger::Judgement AnswerLedger::judge(qint16 protocol, const QByteArray& frame,
                                            quint64 current) {
    Judgement j;
    bool layoutOk = true;
    const QList<qsizetype> matches = candidates(protocol, frame, &layoutOk);
    if (!layoutOk)
        return j;
    qsizetype settleTo = -1;
    j.verdict = verdictFor(matches, current, &settleTo);
    if ((j.verdict == Verdict::Stale && matches.size() == 1) || j.verdict == Verdict::Answer) {
        j.request = m_entries[settleTo].request;
        if (j.verdict == Verdict::Stale)
            j.sentNs = m_entries[settleTo].sentNs;
        m_answered.append(j.request);
        if (m_answered.size() > 32)
            m_answered.removeFirst();
    }
    if (settleTo >= 0)
        m_entries.remove(0, settleTo + 1);
    return j;
}

void AnswerLedger::settleThrough(quint64 request) {
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].request == request) {
            m_entries.remove(0, i + 1);
            return;
        }
    }
}

bool AnswerLedger::readCountUnsettled(char station, int count) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.protocol != kProtocolKorvan && e.address == station && e.function == 0x03 &&
               e.count == count;
    });
}

std::optional<AnswerLedger::Window> AnswerLedger::provableWindow(char station, int start, int count,
                                                                 int maxCount,
                                                                 int registerEnd) const {
    if (count < 1 || start < 0 || start + count > registerEnd ||
        !readCountUnsettled(station, count))
        return std::nullopt;
    for (int c = count + 1; c <= std::min(maxCount, registerEnd); ++c) {
        if (readCountUnsettled(station, c))
            continue;
        // The registers after those asked, which are read next anyway; before them only
        // at the end of the map (the one before is likelier the one that went unanswered).
        const int s = std::min(start, registerEnd - c);
        return Window{s, c, start - s};
    }
    return std::nullopt;
}

} // namespace pmx::framing
