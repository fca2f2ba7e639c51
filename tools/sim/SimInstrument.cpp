#include "SimInstrument.h"

#include "SimBytes.h"
#include "comm/Checksums.h"

#include <algorithm>

namespace pmx::sim {

using namespace detail;

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

bool Instrument::skipToFrameStart(char start, const QString& why, std::vector<Reply>& out) {
    const int at = int(m_buffer.indexOf(start));
    if (at < 0) {
        if (!m_buffer.isEmpty())
            out.push_back(dropped(int(m_buffer.size()), why));
        m_buffer.clear();
        return false;
    }
    if (at > 0) {
        out.push_back(dropped(at, why));
        m_buffer.remove(0, at);
    }
    return true;
}

void Instrument::feedKorvan(std::vector<Reply>& out) {
    for (;;) {
        if (!skipToFrameStart(kStx, QStringLiteral("no STX"), out))
            return;
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
        return QByteArray(1, lead) + bytes + korvanBcc(bytes);
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
    if (sum != korvanSum(frame.mid(1, frame.size() - 3))) {
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

} // namespace pmx::sim
