#include "SimInstrument.h"

#include "comm/Checksums.h"

#include <algorithm>

namespace pmx::sim {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEsc = 0x1B;

// Longest KORVAN text between STX and ETX we wait for; a write needs 11.
constexpr int kKorvanMaxContent = 32;
// Modbus ASCII: 513 characters at most from ':' through LF.
constexpr int kAsciiMaxFrame = 513;
// Modbus RTU: 256 bytes at most per frame.
constexpr int kRtuMaxFrame = 256;
// Modbus: every station carries out a request for station 0 and none answers it.
constexpr int kBroadcastStation = 0;

QByteArray hex4(std::uint16_t value) {
    return checksum::hex2(std::uint8_t(value >> 8)) + checksum::hex2(std::uint8_t(value));
}

// Value of a text of hexadecimal digits (either case), or -1 when any character is not one.
long parseHex(const QByteArray& text) {
    if (text.isEmpty())
        return -1;
    long v = 0;
    for (char c : text) {
        const int d = checksum::hexDigitValue(c);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

QString hex4s(std::uint16_t value) {
    return QString::fromLatin1(hex4(value));
}

QString hex2s(int value) {
    return QString::fromLatin1(checksum::hex2(std::uint8_t(value)));
}

// Printable form of request bytes for the log: characters 20h..7Eh as they are, others as <xx>.
QString printable(const QByteArray& bytes) {
    QString out;
    for (char c : bytes) {
        const auto u = std::uint8_t(c);
        if (u >= 0x20 && u < 0x7F && c != '<')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("<%1>").arg(hex2s(u));
    }
    return out;
}

} // namespace

std::int16_t keptValue(const Fault& fault, std::int16_t held, std::int16_t written) {
    if (fault.kind == FaultKind::Ignore)
        return held;
    if (fault.kind == FaultKind::Clamp)
        return std::int16_t(std::clamp(int(written), fault.minValue, fault.maxValue));
    return written;
}

QString protocolName(Protocol protocol) {
    switch (protocol) {
    case Protocol::Korvan:
        return QStringLiteral("korvan");
    case Protocol::ModbusAscii:
        return QStringLiteral("ascii");
    case Protocol::ModbusRtu:
        return QStringLiteral("rtu");
    }
    return {};
}

std::int16_t defaultValue(int item) {
    return std::int16_t(100 * item - 1);
}

QByteArray garbageBytes() {
    return QByteArray("\xFF\xFE\x80\x7Fgarbage\xAA\x55\xFF", 14);
}

Instrument::Instrument(Protocol protocol, int instrumentNo)
    : m_protocol(protocol), m_instrumentNo(instrumentNo) {
    for (int i = 0; i < kItemCount; ++i)
        m_values[std::size_t(i)] = defaultValue(i);
}

std::vector<Reply> Instrument::feed(const QByteArray& bytes) {
    m_buffer += bytes;
    std::vector<Reply> out;
    switch (m_protocol) {
    case Protocol::Korvan:
        feedKorvan(out);
        break;
    case Protocol::ModbusAscii:
        feedAscii(out);
        break;
    case Protocol::ModbusRtu:
        feedRtu(out, false);
        break;
    }
    return out;
}

std::vector<Reply> Instrument::lineIdle() {
    std::vector<Reply> out;
    // KORVAN and Modbus ASCII frames carry their own start character, so a half frame
    // is dropped when the next start arrives; silence only matters to RTU.
    if (m_protocol == Protocol::ModbusRtu)
        feedRtu(out, true);
    return out;
}

Reply Instrument::dropped(int count, const QString& why) const {
    Reply r;
    r.logLine = QStringLiteral("%1 - -> dropped %2 bytes (%3)")
                    .arg(protocolName(m_protocol))
                    .arg(count)
                    .arg(why);
    return r;
}

QString Instrument::nameSuffix(int item) const {
    if (item < 0 || item >= m_names.size() || m_names.at(item).isEmpty())
        return {};
    return QStringLiteral(" \"%1\"").arg(m_names.at(item));
}

// ---------------------------------------------------------------------------------------
// KORVAN

void Instrument::feedKorvan(std::vector<Reply>& out) {
    for (;;) {
        const int stx = int(m_buffer.indexOf(kStx));
        if (stx < 0) {
            if (!m_buffer.isEmpty())
                out.push_back(dropped(int(m_buffer.size()), QStringLiteral("no STX")));
            m_buffer.clear();
            return;
        }
        if (stx > 0) {
            out.push_back(dropped(stx, QStringLiteral("no STX")));
            m_buffer.remove(0, stx);
        }
        // Buffer starts with STX. A second STX before ETX means the first frame was cut
        // short: start again from the later one.
        int etx = -1;
        int restart = -1;
        const int limit = std::min(int(m_buffer.size()), 1 + kKorvanMaxContent + 1);
        for (int i = 1; i < limit; ++i) {
            if (m_buffer[i] == kEtx) {
                etx = i;
                break;
            }
            if (m_buffer[i] == kStx) {
                restart = i;
                break;
            }
        }
        if (restart > 0) {
            out.push_back(dropped(restart, QStringLiteral("STX without ETX")));
            m_buffer.remove(0, restart);
            continue;
        }
        if (etx < 0) {
            if (m_buffer.size() >= 1 + kKorvanMaxContent + 1) {
                out.push_back(dropped(1, QStringLiteral("STX without ETX")));
                m_buffer.remove(0, 1);
                continue;
            }
            return; // wait for more
        }
        if (m_buffer.size() < etx + 3)
            return; // wait for the BCC
        const QByteArray frame = m_buffer.left(etx + 3);
        m_buffer.remove(0, etx + 3);
        out.push_back(korvanRequest(frame));
    }
}

Reply Instrument::korvanRequest(const QByteArray& frame) {
    Reply reply;
    reply.requestBytes = int(frame.size());
    const QString proto = protocolName(m_protocol);
    const QByteArray content = frame.mid(1, frame.size() - 4); // address .. before ETX
    if (content.isEmpty()) {
        reply.logLine = proto + QStringLiteral(" ? -> none (no address)");
        return reply;
    }
    const int address = std::uint8_t(content[0]);
    if (address != m_instrumentNo + 0x20) {
        reply.logLine = proto + QStringLiteral(" ? -> ignored (address %1)").arg(hex2s(address));
        return reply;
    }
    reply.addressed = true;

    // Echoed header: address, sub-address, command type, data item (padded when the
    // request was too short to carry them all).
    QByteArray header = content.left(7);
    while (header.size() < 7)
        header += '0';
    const char command = header[2];
    const QByteArray itemText = header.mid(3, 4);
    const long itemValue = parseHex(content.mid(3, 4));
    const int item =
        (content.size() >= 7 && itemValue >= 0 && itemValue < kItemCount) ? int(itemValue) : -1;

    QString what;
    if (command == ' ')
        what = QStringLiteral("R %1").arg(printable(itemText));
    else if (command == 'P')
        what = QStringLiteral("W %1 %2").arg(printable(itemText), printable(content.mid(7)));
    else
        what =
            QStringLiteral("X(%1) %2").arg(printable(QByteArray(1, command)), printable(itemText));

    auto frameOf = [](char lead, const QByteArray& body) {
        QByteArray bytes = body + kEtx;
        return QByteArray(1, lead) + bytes + checksum::hex2(checksum::bcc(bytes));
    };
    // The echo fault answers for another item: its number in the echoed header (and its
    // value in a read acknowledgement).
    const Fault itemFault = item >= 0 ? m_faults[std::size_t(item)] : Fault{};
    const int answered = itemFault.kind == FaultKind::Echo ? itemFault.echoItem : item;
    const QByteArray answerHeader =
        answered == item ? header : header.left(3) + hex4(std::uint16_t(answered));
    auto nak = [&](int code, const QString& note) {
        const QByteArray bytes = frameOf(kNak, answerHeader + checksum::hex2(std::uint8_t(code)));
        return finish(reply, item, what, bytes, QStringLiteral("NAK %1%2").arg(hex2s(code), note),
                      true);
    };

    const long sum = parseHex(frame.right(2));
    if (sum != checksum::bcc(frame.mid(1, frame.size() - 3))) {
        // Checksum errors come before anything the item would do: no fault applies.
        const QByteArray bytes = frameOf(kEsc, header);
        Reply r = reply;
        r.bytes = m_silent ? QByteArray() : bytes;
        r.logLine = proto + QLatin1Char(' ') + what + QStringLiteral(" -> ESC") +
                    (m_silent ? QStringLiteral(" silent") : QString());
        return r;
    }
    if (header[1] != ' ')
        return nak(4, QString());
    if (command != ' ' && command != 'P')
        return nak(2, QString());
    const int expected = command == ' ' ? 7 : 11;
    if (content.size() != expected || itemValue < 0)
        return nak(4, QString());
    if (item < 0)
        return nak(1, QString());
    long data = -1;
    if (command == 'P') {
        data = parseHex(content.mid(7, 4));
        if (data < 0)
            return nak(4, QString());
    }

    const Fault& fault = itemFault;
    if (fault.kind == FaultKind::Nak)
        return nak(fault.code, QStringLiteral(" nak"));
    if (fault.kind == FaultKind::ReadOnly && command == 'P')
        return nak(3, QStringLiteral(" readonly"));
    if (fault.kind == FaultKind::Silent)
        return finish(reply, item, what, {}, QStringLiteral("none"), false);

    if (command == 'P') {
        m_values[std::size_t(item)] =
            keptValue(fault, m_values[std::size_t(item)], std::int16_t(std::uint16_t(data)));
        return finish(reply, item, what, frameOf(kAck, answerHeader), QStringLiteral("ACK"), true);
    }
    const QByteArray value = hex4(std::uint16_t(m_values[std::size_t(answered)]));
    return finish(reply, item, what, frameOf(kAck, answerHeader + value),
                  QStringLiteral("ACK ") + QString::fromLatin1(value), true);
}

// Applies the item's response faults and the global silence to a response, and writes the
// log line. `spoilable`: the response carries a checksum that the badsum fault may spoil.
Reply Instrument::finish(Reply reply, int item, const QString& what, const QByteArray& response,
                         const QString& outcome, bool spoilable) {
    const Fault fault = item >= 0 ? m_faults[std::size_t(item)] : Fault{};
    const QString head =
        protocolName(m_protocol) + QLatin1Char(' ') + what + QStringLiteral(" -> ");
    if (m_broadcast) {
        // Carried out (a write) or refused, never answered: only a refusal is worth noting.
        QString refusal;
        if (outcome == QLatin1String("none"))
            refusal = QStringLiteral("; silent");
        else if (!outcome.startsWith(QLatin1String("OK")))
            refusal = QStringLiteral("; ") + outcome;
        reply.bytes.clear();
        reply.logLine = head + QStringLiteral("none (broadcast%1)").arg(refusal) + nameSuffix(item);
        return reply;
    }
    QString note;
    reply.bytes = response;
    if (!response.isEmpty()) {
        switch (fault.kind) {
        case FaultKind::BadSum:
            if (spoilable) {
                // The last byte belongs to the checksum in every protocol: change it.
                const char last = reply.bytes[reply.bytes.size() - 1];
                if (m_protocol == Protocol::ModbusRtu)
                    reply.bytes[reply.bytes.size() - 1] = char(std::uint8_t(last) ^ 0x5A);
                else if (m_protocol == Protocol::ModbusAscii)
                    // ':' ... LRC(2) CR LF: spoil the LRC's second digit.
                    reply.bytes[reply.bytes.size() - 3] =
                        reply.bytes[reply.bytes.size() - 3] == '0' ? '1' : '0';
                else
                    reply.bytes[reply.bytes.size() - 1] = last == '0' ? '1' : '0';
                note = QStringLiteral(" badsum");
            }
            break;
        case FaultKind::Garbage:
            reply.bytes = garbageBytes();
            note = QStringLiteral(" garbage");
            break;
        case FaultKind::Delay:
            reply.delayMs = fault.delayMs;
            note = QStringLiteral(" delay %1").arg(fault.delayMs);
            break;
        case FaultKind::Echo:
            note = QStringLiteral(" echo %1").arg(hex4s(std::uint16_t(fault.echoItem)));
            break;
        case FaultKind::Silent:
            reply.bytes.clear();
            note = QStringLiteral(" silent");
            break;
        default:
            break;
        }
    } else if (fault.kind == FaultKind::Silent) {
        note = QStringLiteral(" silent");
    }
    if (m_silent && !reply.bytes.isEmpty()) {
        reply.bytes.clear();
        note += QStringLiteral(" silent");
    }
    reply.logLine = head + outcome + note + nameSuffix(item);
    return reply;
}

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
        const int colon = int(m_buffer.indexOf(':'));
        if (colon < 0) {
            if (!m_buffer.isEmpty())
                out.push_back(dropped(int(m_buffer.size()), QStringLiteral("no ':'")));
            m_buffer.clear();
            return;
        }
        if (colon > 0) {
            out.push_back(dropped(colon, QStringLiteral("no ':'")));
            m_buffer.remove(0, colon);
        }
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
