#include "SimChaos.h"

#include "SimBytes.h"
#include "comm/Checksums.h"

#include <QStringList>

namespace pmx::sim {

using namespace detail;

Chaos::Chaos(std::uint64_t seed, int timeoutMs, Protocol protocol, int instrumentNo)
    : m_state(seed), m_timeoutMs(std::max(timeoutMs, 1)), m_protocol(protocol),
      m_instrumentNo(instrumentNo) {
    m_echoes = chance(35);
}

std::uint64_t Chaos::next() {
    // splitmix64: the same numbers from the same seed on every platform.
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

QByteArray Chaos::junk() {
    // Bytes that begin no frame: no control character (STX, ACK, NAK, ESC, CR, LF), no
    // ':' and neither the instrument's station byte nor its KORVAN address character.
    QByteArray out;
    const int n = 1 + below(12);
    while (out.size() < n) {
        const auto b = std::uint8_t(0x20 + below(0xE0));
        if (b == ':' || b == m_instrumentNo || b == m_instrumentNo + 0x20)
            continue;
        out += char(b);
    }
    return out;
}

QByteArray Chaos::fromOtherInstrument(Protocol protocol, const QByteArray& answer, int otherNo) {
    if (answer.isEmpty())
        return {};
    if (protocol == Protocol::Korvan) {
        // lead, address .. ETX, BCC (2)
        QByteArray body = answer.mid(1, answer.size() - 3);
        if (body.isEmpty())
            return {};
        body[0] = char(otherNo + 0x20);
        return answer.left(1) + body + detail::korvanBcc(body);
    }
    if (protocol == Protocol::ModbusRtu) {
        QByteArray adu = answer.left(answer.size() - 2);
        adu[0] = char(otherNo);
        const std::uint16_t crc = checksum::crc16(adu);
        return adu + char(crc & 0xFF) + char(crc >> 8);
    }
    // ':' hex pairs, LRC, CR LF
    QByteArray adu = QByteArray::fromHex(answer.mid(1, answer.size() - 5));
    if (adu.isEmpty())
        return {};
    adu[0] = char(otherNo);
    return ":" + adu.toHex().toUpper() + checksum::hex2(checksum::lrc(adu)) + "\r\n";
}

std::vector<ChaosPiece> Chaos::deliver(const QByteArray& answer) {
    ++m_counts.answers;
    QStringList faults;
    std::vector<ChaosPiece> out;
    if (chance(8)) {
        ++m_counts.dropped;
        m_last = QStringLiteral("dropped");
        return out;
    }
    int delay = 0;
    if (chance(25)) {
        // Up to ten time-outs late, in whole milliseconds.
        delay = below(10 * m_timeoutMs + 1);
        ++m_counts.late;
        faults << QStringLiteral("late %1 ms").arg(delay);
    }
    if (chance(8)) {
        // Another instrument on the line answers first (as if it took the request for its own).
        const int other = m_instrumentNo == 95 ? 94 : m_instrumentNo + 1;
        out.push_back({delay, fromOtherInstrument(m_protocol, answer, other)});
        ++m_counts.otherInstrument;
        faults << QStringLiteral("other instrument");
    }
    QByteArray bytes = answer;
    if (chance(8)) {
        // Repeated right behind itself, in the same burst.
        bytes += answer;
        ++m_counts.repeated;
        faults << QStringLiteral("repeated");
    }
    if (chance(12)) {
        bytes += junk();
        ++m_counts.junk;
        faults << QStringLiteral("junk");
    }
    if (chance(15) && !faults.contains(QStringLiteral("repeated"))) {
        // One byte a millisecond.
        for (qsizetype i = 0; i < bytes.size(); ++i)
            out.push_back({delay + int(i), bytes.mid(i, 1)});
        ++m_counts.split;
        faults << QStringLiteral("split");
    } else {
        out.push_back({delay, bytes});
    }
    if (faults.isEmpty())
        ++m_counts.clean;
    m_last = faults.join(QStringLiteral(", "));
    return out;
}

} // namespace pmx::sim
