// The virtual instrument's Modbus ASCII and RTU side: delimiting frames, stations and
// broadcasts, and the function 03 and 06 requests.
#include "SimBytes.h"
#include "SimInstrument.h"

namespace pmx::sim {

using namespace detail;

// ---------------------------------------------------------------------------------------
// Modbus

QByteArray Instrument::modbusFrame(const QByteArray& pdu) const {
    const QByteArray adu = QByteArray(1, char(m_instrumentNo)) + pdu;
    QByteArray out;
    if (m_protocol == Protocol::ModbusAscii) {
        out = ":";
        for (char c : adu)
            out += checksum::hex2(std::uint8_t(c));
        out += checksum::hex2(checksum::lrc(adu));
        out += "\r\n";
    } else {
        const std::uint16_t crc = checksum::crc16(adu);
        // Modbus RTU: CRC low-order byte first.
        out = adu + char(crc & 0xFF) + char(crc >> 8);
    }
    return out;
}

void Instrument::feedAscii(std::vector<Reply>& out) {
    for (;;) {
        if (!skipToFrameStart(':', QStringLiteral("no ':'"), out))
            return;
        int lf = -1;
        int restart = -1;
        const int limit = std::min(int(m_buffer.size()), kAsciiMaxFrame);
        for (int i = 1; i < limit; ++i) {
            if (m_buffer[i] == '\n') {
                lf = i;
                break;
            }
            if (m_buffer[i] == ':') {
                restart = i;
                break;
            }
        }
        if (restart > 0) {
            out.push_back(dropped(restart, QStringLiteral("':' without LF")));
            m_buffer.remove(0, restart);
            continue;
        }
        if (lf < 0) {
            if (m_buffer.size() >= kAsciiMaxFrame) {
                out.push_back(dropped(1, QStringLiteral("frame too long")));
                m_buffer.remove(0, 1);
                continue;
            }
            return;
        }
        const QByteArray frame = m_buffer.left(lf + 1);
        m_buffer.remove(0, lf + 1);

        // Modbus ASCII: a frame with a bad LRC, odd digits or a missing CR is not answered.
        const int n = int(frame.size());
        if (n < 9 || frame[n - 2] != '\r' || (n - 3) % 2 != 0) {
            out.push_back(dropped(n, QStringLiteral("malformed frame")));
            continue;
        }
        QByteArray adu;
        bool hexOk = true;
        for (int i = 1; i + 1 < n - 2; i += 2) {
            const long b = parseHex(frame.mid(i, 2));
            if (b < 0) {
                hexOk = false;
                break;
            }
            adu += char(b);
        }
        if (!hexOk) {
            out.push_back(dropped(n, QStringLiteral("not hexadecimal")));
            continue;
        }
        const std::uint8_t lrc = std::uint8_t(adu.back());
        adu.chop(1);
        if (checksum::lrc(adu) != lrc) {
            out.push_back(dropped(n, QStringLiteral("bad LRC")));
            continue;
        }
        out.push_back(modbusStation(std::uint8_t(adu[0]), adu.mid(1), n));
    }
}

void Instrument::feedRtu(std::vector<Reply>& out, bool lineIdle) {
    // Requests of functions 03 and 06 are 8 bytes long, so they end by length; anything
    // else ends at the 3.5-character silence.
    for (;;) {
        int start = -1;
        for (int i = 0; i + 8 <= m_buffer.size(); ++i) {
            const auto fn = std::uint8_t(m_buffer[i + 1]);
            if (fn != 0x03 && fn != 0x06)
                continue;
            const std::uint16_t crc = checksum::crc16(m_buffer.mid(i, 6));
            if (std::uint8_t(m_buffer[i + 6]) == (crc & 0xFF) &&
                std::uint8_t(m_buffer[i + 7]) == (crc >> 8)) {
                start = i;
                break;
            }
        }
        if (start < 0)
            break;
        if (start > 0) {
            out.push_back(dropped(start, QStringLiteral("no frame")));
            m_buffer.remove(0, start);
        }
        const QByteArray adu = m_buffer.left(8);
        m_buffer.remove(0, 8);
        out.push_back(modbusStation(std::uint8_t(adu[0]), adu.mid(1, 5), 8));
    }
    if (m_buffer.size() > kRtuMaxFrame) {
        const int excess = int(m_buffer.size()) - kRtuMaxFrame;
        out.push_back(dropped(excess, QStringLiteral("frame too long")));
        m_buffer.remove(0, excess);
    }
    if (!lineIdle || m_buffer.isEmpty())
        return;
    // Silence ends the frame: take it whole when its CRC holds (a function we do not
    // know), else drop it unanswered as Modbus RTU requires.
    const QByteArray adu = m_buffer;
    m_buffer.clear();
    const int n = int(adu.size());
    if (n < 4) {
        out.push_back(dropped(n, QStringLiteral("frame too short")));
        return;
    }
    const std::uint16_t crc = checksum::crc16(adu.left(n - 2));
    if (std::uint8_t(adu[n - 2]) != (crc & 0xFF) || std::uint8_t(adu[n - 1]) != (crc >> 8)) {
        out.push_back(dropped(n, QStringLiteral("bad CRC")));
        return;
    }
    out.push_back(modbusStation(std::uint8_t(adu[0]), adu.mid(1, n - 3), n));
}

Reply Instrument::modbusStation(int station, const QByteArray& pdu, int requestBytes) {
    if (station != kBroadcastStation && station != m_instrumentNo) {
        Reply r;
        r.requestBytes = requestBytes;
        r.logLine = protocolName(m_protocol) +
                    QStringLiteral(" ? -> ignored (address %1)").arg(hex2s(station));
        return r;
    }
    m_broadcast = station == kBroadcastStation;
    Reply r = modbusRequest(pdu, requestBytes);
    m_broadcast = false;
    return r;
}

Reply Instrument::modbusRequest(const QByteArray& pdu, int requestBytes) {
    Reply reply;
    reply.requestBytes = requestBytes;
    reply.addressed = true;
    const int fn = std::uint8_t(pdu[0]);
    const bool wellSized = pdu.size() == 5;
    const int first = wellSized ? (std::uint8_t(pdu[1]) << 8 | std::uint8_t(pdu[2])) : -1;
    const int second = wellSized ? (std::uint8_t(pdu[3]) << 8 | std::uint8_t(pdu[4])) : -1;

    QString what;
    if (fn == 0x03 && wellSized)
        what = second == 1
                   ? QStringLiteral("R %1").arg(hex4s(std::uint16_t(first)))
                   : QStringLiteral("R %1 n=%2").arg(hex4s(std::uint16_t(first))).arg(second);
    else if (fn == 0x06 && wellSized)
        what = QStringLiteral("W %1 %2").arg(hex4s(std::uint16_t(first)),
                                             hex4s(std::uint16_t(second)));
    else
        what = QStringLiteral("X(fn %1) %2").arg(hex2s(fn)).arg(pdu.size() - 1);

    auto exception = [&](int item, int code, const QString& note) {
        const QByteArray bytes = modbusFrame(QByteArray(1, char(fn | 0x80)) + char(code));
        return finish(reply, item, what, bytes, QStringLiteral("EXC %1%2").arg(hex2s(code), note),
                      true);
    };

    if (fn != 0x03 && fn != 0x06)
        return exception(-1, 1, QString());
    if (!wellSized)
        return exception(-1, 3, QString());
    const int count = fn == 0x03 ? second : 1;
    if (fn == 0x03 && (count < 1 || count > 125))
        return exception(-1, 3, QString());
    if (first + count > kItemCount)
        return exception(-1, 2, QString());
    // Instruments that limit the count, or define no register in a gap of the map.
    if (fn == 0x03 && count > m_maxCount)
        return exception(-1, 3, QStringLiteral(" count"));
    for (int i = first; fn == 0x03 && count > 1 && i < first + count; ++i)
        if (m_refuseSpan[std::size_t(i)])
            return exception(i, 2, QStringLiteral(" span"));

    // The first item of the range that has a fault decides the fault.
    int item = first;
    for (int i = first; i < first + count; ++i) {
        if (m_faults[std::size_t(i)].kind != FaultKind::None) {
            item = i;
            break;
        }
    }
    const Fault fault = m_faults[std::size_t(item)];
    if (fault.kind == FaultKind::Nak)
        return exception(item, fault.code, QStringLiteral(" nak"));
    if (fault.kind == FaultKind::ReadOnly && fn == 0x06)
        return exception(item, 3, QStringLiteral(" readonly"));
    if (fault.kind == FaultKind::Silent)
        return finish(reply, item, what, {}, QStringLiteral("none"), false);

    // The echo fault answers for another item: a write response names it, a read carries
    // its value in the faulty item's place (a read response names no register).
    const bool echo = fault.kind == FaultKind::Echo;
    if (fn == 0x06) {
        m_values[std::size_t(first)] =
            keptValue(fault, m_values[std::size_t(first)], std::int16_t(std::uint16_t(second)));
        QByteArray response = pdu;
        if (echo) {
            response[1] = char(fault.echoItem >> 8);
            response[2] = char(fault.echoItem & 0xFF);
        }
        return finish(reply, item, what, modbusFrame(response), QStringLiteral("OK"), true);
    }
    QByteArray response(1, char(0x03));
    response += char(2 * count);
    QString values;
    for (int i = first; i < first + count; ++i) {
        const int from = echo && i == item ? fault.echoItem : i;
        const auto v = std::uint16_t(m_values[std::size_t(from)]);
        response += char(v >> 8);
        response += char(v & 0xFF);
        values += QLatin1Char(' ') + hex4s(v);
    }
    return finish(reply, item, what, modbusFrame(response), QStringLiteral("OK") + values, true);
}

} // namespace pmx::sim
