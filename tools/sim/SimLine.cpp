#include "SimLine.h"

namespace pmx::sim {

Line::Line(Protocol protocol, const std::vector<int>& instrumentNos) : m_protocol(protocol) {
    for (int n : instrumentNos)
        m_instruments.push_back(std::make_unique<Instrument>(protocol, n));
    if (m_instruments.empty())
        m_instruments.push_back(
            std::make_unique<Instrument>(protocol, protocol == Protocol::Korvan ? 0 : 1));
}

Instrument* Line::find(int instrumentNo) {
    for (const auto& i : m_instruments)
        if (i->instrumentNo() == instrumentNo)
            return i.get();
    return nullptr;
}

std::vector<Reply> Line::feed(const QByteArray& bytes) {
    std::vector<std::vector<Reply>> all;
    for (const auto& i : m_instruments)
        all.push_back(i->feed(bytes));
    return merge(std::move(all));
}

std::vector<Reply> Line::lineIdle() {
    std::vector<std::vector<Reply>> all;
    for (const auto& i : m_instruments)
        all.push_back(i->lineIdle());
    return merge(std::move(all));
}

void Line::discardPending() {
    for (const auto& i : m_instruments)
        i->discardPending();
}

std::vector<Reply> Line::merge(std::vector<std::vector<Reply>> perInstrument) const {
    std::vector<Reply> out = std::move(perInstrument.front());
    if (perInstrument.size() == 1)
        return out;
    for (std::size_t k = 0; k < out.size(); ++k) {
        int addressed = -1;
        int count = 0;
        for (std::size_t n = 0; n < perInstrument.size(); ++n) {
            if (n > 0 && k >= perInstrument[n].size())
                continue;
            const Reply& r = n == 0 ? out[k] : perInstrument[n][k];
            if (r.addressed) {
                addressed = int(n);
                ++count;
            }
        }
        // Nobody's (ignored or dropped bytes, alike for all) or everybody's (a broadcast,
        // never answered): the first instrument's reply says it. One instrument's: its own.
        if (count != 1)
            continue;
        if (addressed > 0)
            out[k] = std::move(perInstrument[std::size_t(addressed)][k]);
        const QString proto = protocolName(m_protocol);
        out[k].logLine.replace(0, proto.size(),
                               QStringLiteral("%1@%2").arg(proto).arg(
                                   m_instruments[std::size_t(addressed)]->instrumentNo()));
    }
    return out;
}

QString Line::describe() const {
    QStringList numbers;
    for (const auto& i : m_instruments)
        numbers << QString::number(i->instrumentNo());
    return (numbers.size() == 1 ? QStringLiteral("instrument ") : QStringLiteral("instruments ")) +
           numbers.join(QStringLiteral(", "));
}

bool setUpLine(const Config& config, Line& line, QString* error) {
    QStringList names;
    if (!config.modelFile.isEmpty() && !loadItemNames(config.modelFile, &names, error))
        return false;
    for (int k = 0; k < line.size(); ++k) {
        Instrument& instrument = line.at(k);
        if (!config.valuesFile.isEmpty()) {
            QString path = config.valuesFile;
            path.replace(QLatin1String("%n"), QString::number(instrument.instrumentNo()));
            if (!loadValues(path, instrument, error))
                return false;
        }
        instrument.setItemNames(names);
        if (config.delayAllMs > 0)
            for (int item = 0; item < kItemCount; ++item)
                instrument.setFault(item, Fault{FaultKind::Delay, 4, config.delayAllMs, 0});
        for (const auto& [item, fault] : config.faults)
            instrument.setFault(item, fault);
        for (int item : config.refuseSpans)
            instrument.setRefuseSpan(item);
        instrument.setMaxCount(config.maxCount);
        instrument.setSilent(config.silent);
    }
    return true;
}

} // namespace pmx::sim
