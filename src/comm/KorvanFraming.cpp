// The KORVAN frames: the request, and the assembler's scanner for its answers.
#include "comm/Checksums.h"
#include "comm/Framing.h"

namespace pmx::framing {

namespace {

bool hasControl(const QByteArray& field) {
    for (char c : field)
        if (quint8(c) < 0x20)
            return true;
    return false;
}

bool isKorvanLead(char c) {
    return c == kAck || c == kNak || c == kEsc;
}

} // namespace

QByteArray korvanRequest(const QByteArray& address, const QByteArray& subAddress,
                         const QByteArray& commandType, const QByteArray& dataItem,
                         const QByteArray& data) {
    if (address.size() != 1 || subAddress.size() != 1 || commandType.size() != 1 ||
        dataItem.size() != 4 || (data.size() != 0 && data.size() != 4))
        return {};
    if (hasControl(address) || hasControl(subAddress) || hasControl(commandType) ||
        hasControl(dataItem) || hasControl(data))
        return {};
    QByteArray body = address + subAddress + commandType + dataItem + data;
    body += kEtx;
    QByteArray frame(1, kStx);
    frame += body;
    frame += checksum::hex2(checksum::bcc(body)); // BCC covers address through ETX
    return frame;
}

void ResponseAssembler::watchKorvanEcho(char b) {
    if (m_requestFrame.isEmpty())
        return;
    if (b == m_requestFrame[m_echoAt]) {
        if (++m_echoAt == m_requestFrame.size()) {
            m_echoAt = 0;
            copyOfRequest(m_requestFrame, m_fed + 1 - m_requestFrame.size(), m_nowNs);
        }
        return;
    }
    m_echoAt = b == m_requestFrame[0] ? 1 : 0;
}

void ResponseAssembler::feedKorvan(char b) {
    if (m_buf.isEmpty()) {
        if (isKorvanLead(b)) {
            m_buf += b; // garbage before a lead character is skipped
            m_frameStart = m_fed;
            m_frameStartNs = m_nowNs;
        }
        return;
    }
    if (m_etxPos < 0) {
        if (b == kEtx) {
            m_buf += b;
            m_etxPos = m_buf.size() - 1;
            return;
        }
        if (quint8(b) < 0x20) {
            // Every character of a real frame body is printable, so the lead we hold was
            // noise; a new lead character starts over.
            m_buf.clear();
            if (isKorvanLead(b)) {
                m_buf += b;
                m_frameStart = m_fed;
                m_frameStartNs = m_nowNs;
            }
            return;
        }
        m_buf += b;
        if (m_buf.size() - 1 > kKorvanMaxBody)
            m_buf.clear(); // no ETX where one must be: not a frame
        return;
    }
    m_buf += b;
    if (m_buf.size() == m_etxPos + 3)
        finishKorvan();
}

void ResponseAssembler::finishKorvan() {
    const QByteArray frame = m_buf;
    const qsizetype etx = m_etxPos;
    m_buf.clear();
    m_etxPos = -1;
    const char lead = frame[0];
    const qsizetype bodyLen = etx - 1;
    bool layoutOk = false;
    if (lead == kAck)
        layoutOk = bodyLen == 7 || bodyLen == 11; // write ack / read ack with data
    else if (lead == kNak)
        layoutOk = bodyLen == 9; // with a two-character error code
    else
        layoutOk = bodyLen == 7;
    const QByteArray covered = frame.mid(1, etx); // address through ETX
    const bool bccOk = frame.mid(etx + 1, 2).toUpper() == checksum::hex2(checksum::bcc(covered));
    const bool addressOk = frame[1] == m_address;
    if (layoutOk && bccOk && addressOk) {
        settleFrame(frame, frame, m_frameStart, m_frameStartNs);
        return;
    }
    if (m_current == 0)
        return; // between exchanges a spoiled frame proves nothing
    m_status = Status::Corrupt;
    m_text = QByteArray(1, kEsc) + frame.mid(1); // reported as a checksum error
}

} // namespace pmx::framing
