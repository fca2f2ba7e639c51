#include "comm/ExchangeRecord.h"

#include "comm/CommObject.h"
#include "comm/Framing.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace pmx {

namespace {

// Strict: whole pairs of hex digits only, so a garbled frame is not described as a request.
std::optional<QByteArray> fromHexStrict(const QByteArray& hex) {
    if (hex.isEmpty() || hex.size() % 2 != 0)
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (bytes.toHex().toUpper() != hex.toUpper())
        return std::nullopt;
    return bytes;
}

int word(const QByteArray& b, qsizetype at) {
    return (quint8(b[at]) << 8) | quint8(b[at + 1]);
}

const char* protocolName(qint16 protocol) {
    switch (protocol) {
    case kProtocolKorvan:
        return "korvan";
    case kProtocolModbusAscii:
        return "ascii";
    case kProtocolModbusRtu:
        return "rtu";
    default:
        return "?";
    }
}

} // namespace

RequestMeaning describeRequest(qint16 protocol, const QByteArray& frame) {
    RequestMeaning m;
    if (protocol == kProtocolKorvan) {
        // STX, address, sub-address, command type, item (4), data (0 or 4), ETX, BCC (2)
        if (frame.size() < 11 || frame[0] != framing::kStx)
            return m;
        const auto item = fromHexStrict(frame.mid(4, 4));
        if (!item)
            return m;
        m.station = quint8(frame[1]) - 0x20;
        m.item = word(*item, 0);
        m.write = frame[3] == 'P';
        if (m.write) {
            const auto value = fromHexStrict(frame.mid(8, 4));
            if (!value || frame.size() != 15)
                return m;
            m.value = qint16(word(*value, 0));
        }
        m.valid = frame[3] == ' ' || m.write;
        return m;
    }
    std::optional<QByteArray> message;
    if (protocol == kProtocolModbusAscii && frame.size() >= 9 && frame[0] == ':')
        message = fromHexStrict(frame.mid(1, frame.size() - 5));
    else if (protocol == kProtocolModbusRtu && frame.size() >= 4)
        message = frame.left(frame.size() - 2);
    if (!message || message->size() < 6)
        return m;
    m.station = quint8(message->at(0));
    m.item = word(*message, 2);
    const quint8 function = quint8(message->at(1));
    if (function == 0x03) {
        m.count = word(*message, 4);
        m.valid = true;
    } else if (function == 0x06) {
        m.write = true;
        m.value = qint16(word(*message, 4));
        m.valid = true;
    }
    return m;
}

QString hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString printableBytes(const QByteArray& bytes, qint16 protocol) {
    QString out;
    const bool binary = protocol == kProtocolModbusRtu;
    const auto plain = [&out](char c) {
        // Outside printable ASCII the hex column beside it shows the byte.
        out += quint8(c) >= 0x20 && quint8(c) < 0x7F ? QLatin1Char(c) : QLatin1Char('.');
    };
    for (char c : bytes) {
        if (binary) {
            plain(c);
            continue;
        }
        switch (c) {
        case framing::kStx:
            out += QLatin1String("<STX>");
            break;
        case framing::kEtx:
            out += QLatin1String("<ETX>");
            break;
        case framing::kAck:
            out += QLatin1String("<ACK>");
            break;
        case framing::kNak:
            out += QLatin1String("<NAK>");
            break;
        case framing::kEsc:
            out += QLatin1String("<ESC>");
            break;
        case '\r':
            out += QLatin1String("<CR>");
            break;
        case '\n':
            out += QLatin1String("<LF>");
            break;
        default:
            plain(c);
        }
    }
    return out;
}

QString outcomeName(const ExchangeRecord& record) {
    const bool modbus = record.protocol != kProtocolKorvan;
    switch (record.outcome) {
    case ExchangeOutcome::Good:
        return QStringLiteral("good");
    case ExchangeOutcome::Refused:
        return (modbus ? QStringLiteral("exception ") : QStringLiteral("NAK ")) +
               record.refusalCode;
    case ExchangeOutcome::ChecksumError:
        return QStringLiteral("checksum error");
    case ExchangeOutcome::NoAnswer:
        return QStringLiteral("no answer");
    case ExchangeOutcome::Stale:
        return QStringLiteral("no answer (stale answer discarded)");
    case ExchangeOutcome::DeviceLost:
        return QStringLiteral("device lost");
    case ExchangeOutcome::Broadcast:
        return QStringLiteral("broadcast, not confirmed");
    case ExchangeOutcome::VerifyMismatch:
        return QStringLiteral("verify mismatch (wrote %1, holds %2)")
            .arg(record.wrote)
            .arg(record.holds);
    }
    return {};
}

QString traceLine(const ExchangeRecord& record) {
    const RequestMeaning m = describeRequest(record.protocol, record.request);
    QString meaning = QStringLiteral("?");
    if (m.valid) {
        meaning =
            QStringLiteral("%1 %2h")
                .arg(m.write ? QLatin1Char('W') : QLatin1Char('R'))
                .arg(QString::number(m.item, 16).rightJustified(4, QLatin1Char('0')).toUpper());
        if (m.value)
            meaning += QStringLiteral(" %1").arg(*m.value);
        if (!m.write && m.count > 1)
            meaning += QStringLiteral(" n=%1").arg(m.count);
    }
    QString line =
        QStringLiteral("%1 %2 %3 > %4 < %5 : %6")
            .arg(QDateTime::fromMSecsSinceEpoch(record.timeMs)
                     .toString(QStringLiteral("HH:mm:ss.zzz")),
                 QLatin1String(protocolName(record.protocol)), meaning, hexBytes(record.request),
                 record.answer.isEmpty() ? QStringLiteral("-") : hexBytes(record.answer),
                 outcomeName(record));
    line += QStringLiteral(", %1 %2, %3 ms")
                .arg(record.attempts)
                .arg(record.attempts == 1 ? QLatin1String("try") : QLatin1String("tries"))
                .arg(record.roundTripMs, 0, 'f', 1);
    if (record.discardedBytes > 0)
        line += QStringLiteral(", %1 bytes discarded").arg(record.discardedBytes);
    if (record.lateMs >= 0)
        line += QStringLiteral(", an answer %1 ms late").arg(record.lateMs, 0, 'f', 0);
    if (record.echoBytes > 0)
        line += QStringLiteral(", echoed");
    return line;
}

void ExchangeLog::exchanged(const ExchangeRecord& record) {
    if (m_capacity <= 0)
        return;
    m_records.push_back(record);
    while (qsizetype(m_records.size()) > m_capacity) {
        m_records.pop_front();
        ++m_dropped;
    }
    Counters& c = m_counters;
    ++c.exchanges;
    c.discardedBytes += record.discardedBytes;
    c.latestLateMs = std::max(c.latestLateMs, std::ceil(record.lateMs));
    c.echoed = c.echoed || record.echoBytes > 0;
    switch (record.outcome) {
    case ExchangeOutcome::Good:
        ++c.good;
        break;
    case ExchangeOutcome::Refused:
        ++c.refused;
        break;
    case ExchangeOutcome::ChecksumError:
        ++c.checksum;
        break;
    case ExchangeOutcome::NoAnswer:
    case ExchangeOutcome::Stale:
        ++c.noAnswer;
        break;
    case ExchangeOutcome::DeviceLost:
        ++c.lost;
        break;
    case ExchangeOutcome::Broadcast:
        ++c.broadcast;
        break;
    case ExchangeOutcome::VerifyMismatch:
        ++c.verifyMismatch;
        break;
    }
    if (onChanged)
        onChanged();
}

void ExchangeLog::readBackDiffers(int item, qint16 wrote, qint16 holds) {
    if (m_records.empty())
        return;
    ExchangeRecord& last = m_records.back();
    // Only the read-back itself: never a record of another exchange in its place.
    const RequestMeaning m = describeRequest(last.protocol, last.request);
    if (last.outcome != ExchangeOutcome::Good || !m.valid || m.write || m.item != item)
        return;
    last.outcome = ExchangeOutcome::VerifyMismatch;
    last.wrote = wrote;
    last.holds = holds;
    --m_counters.good;
    ++m_counters.verifyMismatch;
    ++m_marks;
    if (onChanged)
        onChanged();
}

void ExchangeLog::clear() {
    m_records.clear();
    m_dropped = 0;
    m_counters = {};
    if (onChanged)
        onChanged();
}

} // namespace pmx
