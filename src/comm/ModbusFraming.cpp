// The Modbus frames, ASCII and RTU: the request, and the assembler's scanners for answers.
#include "comm/Checksums.h"
#include "comm/Framing.h"

#include <algorithm>

namespace pmx::framing {

namespace {

// Response length for an RTU response beginning at `at`, or 0 when more bytes are needed.
qsizetype rtuLength(const QByteArray& buf, qsizetype at, quint8 function) {
    if (function & 0x80)
        return 5; // address, function, exception code, CRC
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        if (at + 2 >= buf.size())
            return 0;
        return 5 + quint8(buf[at + 2]); // address, function, byte count, data, CRC
    default:
        return 8; // 05, 06, 0F, 10 echo address, function and four bytes
    }
}

} // namespace

std::optional<QByteArray> modbusMessage(const QByteArray& address, const QByteArray& function,
                                        const QByteArray& dataItem, const QByteArray& data) {
    if (address.size() != 2 || function.size() != 2)
        return std::nullopt;
    return checksum::decodeHexPairs(address + function + dataItem + data);
}

QByteArray modbusAsciiFrame(const QByteArray& message) {
    QByteArray frame(1, ':');
    frame += message.toHex().toUpper();
    frame += checksum::hex2(checksum::lrc(message)); // LRC over the binary bytes
    frame += "\r\n";
    return frame;
}

QByteArray modbusRtuFrame(const QByteArray& message) {
    const quint16 crc = checksum::crc16(message);
    QByteArray frame = message;
    frame += char(crc & 0xFF); // low-order CRC byte first
    frame += char(crc >> 8);
    return frame;
}

bool rtuFunctionSupported(quint8 function) {
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return true;
    default:
        return false;
    }
}

void ResponseAssembler::feedAscii(char b) {
    if (b == ':') {
        m_buf = QByteArray(1, ':'); // a start character always begins a new frame
        m_frameStart = m_fed;
        m_frameStartNs = m_nowNs;
        return;
    }
    if (m_buf.isEmpty())
        return;
    m_buf += b;
    if (m_buf.endsWith("\r\n")) {
        finishAscii();
        return;
    }
    if (m_buf.size() > kAsciiMaxFrame)
        m_buf.clear();
}

void ResponseAssembler::finishAscii() {
    const QByteArray raw = m_buf;
    const QByteArray hex = m_buf.mid(1, m_buf.size() - 3);
    m_buf.clear();
    const auto bytes = checksum::decodeHexPairs(hex);
    const bool corrupt = !bytes || bytes->size() < 3 ||
                         checksum::lrc(bytes->left(bytes->size() - 1)) != quint8(bytes->back());
    if (corrupt) {
        if (m_current != 0)
            m_status = Status::Corrupt;
        return;
    }
    const QByteArray message = bytes->left(bytes->size() - 1);
    if (message[0] != m_address)
        return; // another station's frame: keep waiting for ours
    if (!m_requestFrame.isEmpty() && raw == m_requestFrame) {
        copyOfRequest(message, m_frameStart, m_frameStartNs);
        return;
    }
    settleFrame(message, raw, m_frameStart, m_frameStartNs);
}

void ResponseAssembler::scanRtu() {
    if (m_buf.size() > 2 * kRtuMaxFrame) {
        // Nothing older can still start a frame.
        const qsizetype drop = m_buf.size() - kRtuMaxFrame;
        m_buf.remove(0, drop);
        m_bufTimes.remove(0, drop);
        m_bufStart += drop;
    }
    const qsizetype n = m_buf.size();
    const qsizetype copyLen = m_requestFrame.size();
    bool pending = false;
    bool badOurs = false;
    // Drops the bytes through a frame judged and scans what follows; true when it ended.
    const auto consume = [&](qsizetype end) {
        m_buf.remove(0, end);
        m_bufTimes.remove(0, end);
        m_bufStart += end;
        scanRtu();
    };
    for (qsizetype i = 0; i < n; ++i) {
        // Our own request as sent: its echo (for a 06 perhaps its answer).
        if (copyLen > 0 && m_buf[i] == m_address) {
            const qsizetype have = std::min(copyLen, n - i);
            if (m_buf.mid(i, have) == m_requestFrame.left(have)) {
                if (have < copyLen) {
                    pending = true; // a copy still coming in
                    continue;
                }
                if (copyOfRequest(m_request, m_bufStart + i, m_bufTimes[i]))
                    return;
                m_discardedBytes += i; // whatever came before it is noise
                consume(i + copyLen);
                return;
            }
        }
        if (i == n - 1) {
            if (m_buf[i] == m_address)
                pending = true;
            break;
        }
        const quint8 f = quint8(m_buf[i + 1]);
        const bool current = m_function != 0 && (f == m_function || f == (m_function | 0x80));
        // Between exchanges (or an answer to another function): the functions we send.
        const bool known = current || (f & 0x7F) == 0x03 || (f & 0x7F) == 0x06;
        if (!known)
            continue;
        const qsizetype len = rtuLength(m_buf, i, f);
        if (len == 0 || i + len > n) {
            // Only a frame of ours is worth waiting for: the bytes 03h or 83h inside a
            // spoiled frame's CRC must not hold up its report as corrupt.
            if (m_buf[i] == m_address && current)
                pending = true;
            continue;
        }
        const QByteArray message = m_buf.mid(i, len - 2);
        const quint16 crc = quint16(quint8(m_buf[i + len - 2]) | (quint8(m_buf[i + len - 1]) << 8));
        const bool crcOk = checksum::crc16(message) == crc;
        const bool ours = m_buf[i] == m_address;
        if (crcOk && ours) {
            if (settleFrame(message, m_buf.mid(i, len), m_bufStart + i, m_bufTimes[i]))
                return;
            m_discardedBytes += i;
            consume(i + len);
            return;
        }
        if (crcOk && current && m_current != 0) {
            m_status = Status::Corrupt; // a whole frame from another station
            return;
        }
        if (!crcOk && ours && current)
            badOurs = true;
    }
    if (badOurs && !pending && m_current != 0)
        m_status = Status::Corrupt;
}

} // namespace pmx::framing
