#include "transfer/FinderPlan.h"

#include "comm/Codec.h"
#include "text/StringTable.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace pmx {

namespace {

// Characters of the read request of one item (item 0000h) on the wire.
int requestChars(ProtocolNumber protocol) {
    const Codec* codec = codecFor(protocol);
    return codec ? int(codec->frame(Request::read(1, "0000")).size()) : 0;
}

// Opening a serial device (or connecting to a device server on the local network).
constexpr int kOpenCostMs = 5;

int wireMs(int chars, const LineSetting& line) {
    return int(std::ceil(double(chars) * line.bitsPerChar() * 1000.0 / std::max(line.rate, 1)));
}

Codec::Framings framingsFor(ProtocolNumber protocol) {
    const Codec* codec = codecFor(protocol);
    return codec ? codec->framings() : Codec::Framings{{}, 0};
}

// The rates of the dialog, likeliest first.
constexpr qint32 kRates[] = {9600, 19200, 4800, 2400};

QString protocolText(ProtocolNumber protocol) {
    Conditions c;
    c.protocol = protocol;
    return cond::toTexts(c).protocol;
}

} // namespace

LineSetting lineOf(const Conditions& c) {
    return {c.rate, c.dataBits, c.parity, c.stopBits};
}

QString lineSettingText(const LineSetting& line) {
    return QStringLiteral("%1 %2%3%4")
        .arg(line.rate)
        .arg(line.dataBits)
        .arg(QLatin1Char(char(line.parity)))
        .arg(line.stopBits);
}

QString probeTargetText(const ProbeTarget& t) {
    return strings::text(TextId::FinderTarget)
        .arg(t.port, protocolText(t.protocol), lineSettingText(t.line))
        .arg(t.instrument);
}

QList<ProtocolNumber> protocolOrder(const FinderOptions& options) {
    QList<ProtocolNumber> out;
    const QList<ProtocolNumber> given =
        options.protocols.isEmpty()
            ? QList<ProtocolNumber>{kProtocolKorvan, kProtocolModbusAscii, kProtocolModbusRtu}
            : options.protocols;
    if (given.contains(options.inEffect.protocol))
        out << options.inEffect.protocol;
    for (ProtocolNumber p : given)
        if (!out.contains(p))
            out << p;
    return out;
}

QList<LineSetting> lineSettingsFor(ProtocolNumber protocol) {
    const Codec::Framings f = framingsFor(protocol);
    QList<LineSetting> out;
    const auto add = [&](qsizetype from, qsizetype to) {
        for (qint32 rate : kRates)
            for (qsizetype k = from; k < to; ++k)
                out << LineSetting{rate, f.list[k].dataBits, f.list[k].parity, f.list[k].stopBits};
    };
    add(0, f.common);
    add(f.common, f.list.size());
    return out;
}

QList<qint16> instrumentsFor(ProtocolNumber protocol, const FinderOptions& options) {
    // A station every instrument carries out and none answers proves nothing.
    const Codec* codec = codecFor(protocol);
    const auto broadcast = [codec](qint16 n) { return codec && codec->broadcastsTo(n); };
    QList<qint16> out;
    const auto add = [&](qint16 n) {
        if (n >= 0 && n <= 95 && !broadcast(n) && !out.contains(n))
            out << n;
    };
    if (!options.instruments.isEmpty()) {
        for (qint16 n : options.instruments)
            add(n);
        return out;
    }
    add(broadcast(options.inEffect.instrument) ? qint16(1) : options.inEffect.instrument);
    if (options.allInstruments)
        for (qint16 n = 0; n <= 95; ++n)
            add(n);
    return out;
}

int probeTimeoutMs(const ProbeTarget& target, int answerWaitMs) {
    return answerWaitMs + wireMs(requestChars(target.protocol) + 1, target.line);
}

int probeCostMs(const ProbeTarget& target, int answerWaitMs) {
    int cost = probeTimeoutMs(target, answerWaitMs) +
               wireMs(requestChars(target.protocol), target.line) + kOpenCostMs;
    if (const Codec* codec = codecFor(target.protocol))
        cost += int(std::ceil(
            double(codec->frameGapNs(target.line.rate, target.line.bitsPerChar())) / 1e6));
    return cost;
}

FinderPlan::FinderPlan(const FinderOptions& options)
    : m_answerWaitMs(std::clamp(options.answerWaitMs, kMinAnswerWaitMs, kMaxAnswerWaitMs)),
      m_stopAtFirst(options.stopAtFirst) {
    const QList<ProtocolNumber> protocols = protocolOrder(options);
    QHash<int, QList<qint16>> numbers;
    QHash<int, QList<LineSetting>> lines;
    const LineSetting inEffect = lineOf(options.inEffect);
    for (ProtocolNumber p : protocols) {
        numbers.insert(p, instrumentsFor(p, options));
        QList<LineSetting> l = lineSettingsFor(p);
        // The settings in effect are the likeliest of all, where the protocol can use them.
        if (const qsizetype at = l.indexOf(inEffect); at > 0)
            l.move(at, 0);
        lines.insert(p, l);
    }
    const auto addGroup = [&](const QString& port, ProtocolNumber p, qint16 instrument) {
        for (const LineSetting& line : lines.value(p))
            m_pending << ProbeTarget{port, p, line, instrument};
    };
    for (const QString& port : options.ports)
        for (ProtocolNumber p : protocols)
            if (!numbers.value(p).isEmpty())
                addGroup(port, p, numbers.value(p).first());
    for (const QString& port : options.ports)
        for (ProtocolNumber p : protocols)
            for (qint16 n : numbers.value(p).mid(1))
                addGroup(port, p, n);
}

ProbeTarget FinderPlan::next() {
    if (m_pending.isEmpty())
        return {};
    ++m_done;
    return m_pending.takeFirst();
}

void FinderPlan::garbled(const ProbeTarget& h) {
    // Groups keep their order; inside each group on this port the tries at this rate go
    // first. The group of the garbled try is the one under way, so it continues with them.
    struct Key {
        int group;
        int rank;
        qsizetype index;
    };
    QHash<QString, int> groups;
    QList<Key> keys;
    keys.reserve(m_pending.size());
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        const ProbeTarget& t = m_pending[i];
        const QString group = t.port + QLatin1Char('|') + QString::number(t.protocol) +
                              QLatin1Char('|') + QString::number(t.instrument);
        const int g = int(groups.value(group, int(groups.size())));
        groups.insert(group, g);
        keys << Key{g, t.port == h.port && t.line.rate == h.line.rate ? 0 : 1, i};
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.group != b.group ? a.group < b.group : a.rank < b.rank;
    });
    QList<ProbeTarget> sorted;
    sorted.reserve(m_pending.size());
    for (const Key& k : keys)
        sorted << m_pending[k.index];
    m_pending = std::move(sorted);
}

void FinderPlan::found(const ProbeTarget& h) {
    if (m_stopAtFirst) {
        m_pending.clear();
        return;
    }
    QList<ProbeTarget> sameLine, rest;
    for (const ProbeTarget& t : std::as_const(m_pending)) {
        if (t.port != h.port)
            rest << t;
        else if (t.protocol == h.protocol && t.line == h.line && t.instrument != h.instrument)
            sameLine << t;
    }
    m_pending = sameLine + rest;
}

void FinderPlan::portFailed(const QString& port) {
    m_pending.removeIf([&](const ProbeTarget& t) { return t.port == port; });
}

qint64 FinderPlan::worstCaseMs() const {
    qint64 sum = 0;
    for (const ProbeTarget& t : m_pending)
        sum += probeCostMs(t, m_answerWaitMs);
    return sum;
}

QString durationText(qint64 ms) {
    const qint64 s = (std::max<qint64>(ms, 0) + 999) / 1000;
    if (s < 60)
        return strings::text(TextId::DurationSeconds).arg(s);
    if (s < 3600)
        return strings::text(TextId::DurationMinutes).arg(s / 60).arg(s % 60);
    return strings::text(TextId::DurationHours).arg(s / 3600).arg((s % 3600) / 60);
}

} // namespace pmx
