#include "comm/Framing.h"

#include "comm/Checksums.h"
#include "comm/CommObject.h"

#include <algorithm>

namespace pmx::framing {

namespace {

// Whole pairs of hex digits to bytes; nullopt otherwise.
std::optional<QByteArray> decodeHex(const QByteArray& hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(hex.size() / 2);
    for (qsizetype i = 0; i < hex.size(); i += 2) {
        const int hi = checksum::hexDigitValue(hex[i]);
        const int lo = checksum::hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += char((hi << 4) | lo);
    }
    return out;
}

bool hasControl(const QByteArray& field) {
    for (char c : field)
        if (quint8(c) < 0x20)
            return true;
    return false;
}

bool isKorvanLead(char c) {
    return c == kAck || c == kNak || c == kEsc;
}

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

std::optional<QByteArray> modbusMessage(const QByteArray& address, const QByteArray& function,
                                        const QByteArray& dataItem, const QByteArray& data) {
    if (address.size() != 2 || function.size() != 2)
        return std::nullopt;
    return decodeHex(address + function + dataItem + data);
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
        message = decodeHex(request.mid(1, request.size() - 5));
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
        const auto count = decodeHex(text.mid(5, 2));
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
      m_request(std::move(request)) {}

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
        const auto message = decodeHex(request.mid(1, request.size() - 5)); // without LRC, CR LF
        if (!message || message->size() < 2)
            return std::nullopt;
        return ResponseAssembler(protocolNo, message->at(0), quint8(message->at(1)), *message);
    }
    if (protocolNo == kProtocolModbusRtu) {
        if (request.size() < 4)
            return std::nullopt;
        return ResponseAssembler(protocolNo, request[0], quint8(request[1]),
                                 request.left(request.size() - 2));
    }
    return std::nullopt;
}

void ResponseAssembler::reset() {
    m_discardedFrames = 0;
    m_discardedBytes = 0;
    m_buf.clear();
    m_etxPos = -1;
    m_status = Status::Pending;
    m_text.clear();
}

ResponseAssembler::Status ResponseAssembler::feed(const QByteArray& bytes) {
    if (m_status != Status::Pending)
        return m_status;
    // One byte at a time, as if each arrived alone: how the port happens to split the
    // bytes into reads must never change which frame is taken or whether it is corrupt.
    for (char b : bytes) {
        if (m_protocol == kProtocolModbusRtu) {
            m_buf += b;
            scanRtu();
        } else if (m_protocol == kProtocolKorvan) {
            feedKorvan(b);
        } else {
            feedAscii(b);
        }
        if (m_status != Status::Pending)
            break; // anything after the frame is stale input for the next exchange
    }
    return m_status;
}

void ResponseAssembler::feedKorvan(char b) {
    if (m_buf.isEmpty()) {
        if (isKorvanLead(b))
            m_buf += b; // garbage before a lead character is skipped
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
            if (isKorvanLead(b))
                m_buf += b;
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
    const char lead = m_buf[0];
    const qsizetype bodyLen = m_etxPos - 1;
    bool layoutOk = false;
    if (lead == kAck)
        layoutOk = bodyLen == 7 || bodyLen == 11; // write ack / read ack with data
    else if (lead == kNak)
        layoutOk = bodyLen == 9; // with a two-character error code
    else
        layoutOk = bodyLen == 7;
    const QByteArray covered = m_buf.mid(1, m_etxPos); // address through ETX
    const bool bccOk =
        m_buf.mid(m_etxPos + 1, 2).toUpper() == checksum::hex2(checksum::bcc(covered));
    const bool addressOk = m_buf[1] == m_address;
    // Command type and data item echo the request (STX, address, sub-address, command
    // type, item): a frame of ours that names another request is a late answer to it.
    if (addressOk && layoutOk && m_request.size() >= 8 && m_buf.mid(3, 5) != m_request.mid(3, 5)) {
        discard(m_buf.size());
        return;
    }
    if (layoutOk && bccOk && addressOk) {
        m_status = Status::Complete;
        m_text = m_buf;
    } else {
        m_status = Status::Corrupt;
        m_text = QByteArray(1, kEsc) + m_buf.mid(1); // reported as a checksum error
    }
}

void ResponseAssembler::discard(qsizetype bytes) {
    ++m_discardedFrames;
    m_discardedBytes += bytes;
    m_buf.clear();
    m_etxPos = -1;
}

bool ResponseAssembler::modbusEchoMatches(const QByteArray& message) const {
    if (m_request.size() < 2 || message.size() < 2)
        return true;
    // An answer, or an exception, to another function answers another request.
    if ((quint8(message[1]) & 0x7F) != m_function)
        return false;
    if (quint8(message[1]) & 0x80)
        return true; // exceptions name no register
    if (m_function == 0x06)
        return message == m_request; // register and value echoed
    if (m_function == 0x03 && m_request.size() >= 6 && message.size() >= 3) {
        const int quantity = (quint8(m_request[4]) << 8) | quint8(m_request[5]);
        return quint8(message[2]) == 2 * quantity;
    }
    return true;
}

void ResponseAssembler::feedAscii(char b) {
    if (b == ':') {
        m_buf = QByteArray(1, ':'); // a start character always begins a new frame
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
    const QByteArray hex = m_buf.mid(1, m_buf.size() - 3);
    m_buf.clear();
    const auto bytes = decodeHex(hex);
    if (!bytes || bytes->size() < 3) {
        m_status = Status::Corrupt;
        return;
    }
    const QByteArray message = bytes->left(bytes->size() - 1);
    if (checksum::lrc(message) != quint8(bytes->back())) {
        m_status = Status::Corrupt;
        return;
    }
    if (message[0] != m_address)
        return; // another station's frame: keep waiting for ours
    if (!modbusEchoMatches(message)) {
        discard(hex.size() + 3); // with ":" and CR LF
        return;
    }
    m_status = Status::Complete;
    m_text = ':' + hex.toUpper() + "\r\n";
}

void ResponseAssembler::scanRtu() {
    if (m_buf.size() > 2 * kRtuMaxFrame)
        m_buf.remove(0, m_buf.size() - kRtuMaxFrame); // nothing older can still start a frame
    const qsizetype n = m_buf.size();
    bool pending = false;
    bool badOurs = false;
    for (qsizetype i = 0; i < n; ++i) {
        if (i == n - 1) {
            if (m_buf[i] == m_address)
                pending = true;
            break;
        }
        const quint8 f = quint8(m_buf[i + 1]);
        if (f != m_function && f != (m_function | 0x80))
            continue;
        const qsizetype len = rtuLength(m_buf, i, f);
        if (len == 0 || i + len > n) {
            // Only a frame of ours is worth waiting for: the bytes 03h or 83h inside a
            // spoiled frame's CRC must not hold up its report as corrupt.
            if (m_buf[i] == m_address)
                pending = true;
            continue;
        }
        const QByteArray message = m_buf.mid(i, len - 2);
        const quint16 crc = quint16(quint8(m_buf[i + len - 2]) | (quint8(m_buf[i + len - 1]) << 8));
        const bool crcOk = checksum::crc16(message) == crc;
        const bool ours = m_buf[i] == m_address;
        if (crcOk) {
            if (ours && !modbusEchoMatches(message)) {
                // A late answer to another request: drop it and everything before it.
                m_buf.remove(0, i + len);
                ++m_discardedFrames;
                m_discardedBytes += i + len;
                scanRtu();
                return;
            }
            m_status = ours ? Status::Complete : Status::Corrupt;
            if (ours)
                m_text = modbusAsciiFrame(message);
            return;
        }
        if (ours)
            badOurs = true;
    }
    if (badOurs && !pending)
        m_status = Status::Corrupt;
}

} // namespace pmx::framing
