#include "SimLineSettings.h"

#include <QRegularExpression>

namespace pmx::sim {

bool parseLine(const QString& text, LineConfig* line, QString* error) {
    static const QRegularExpression form(QStringLiteral("^(\\d{2,7})-([78])([NEOneo])([12])$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    const int rate = m.hasMatch() ? m.captured(1).toInt() : 0;
    if (rate < 50 || rate > 4000000) {
        *error = QStringLiteral("--line: RATE-DPS such as 9600-7E1 (rate 50 to 4000000, data "
                                "bits 7 or 8, parity N, E or O, stop bits 1 or 2), not %1")
                     .arg(text);
        return false;
    }
    *line = LineConfig{true, rate, m.captured(2).toInt(),
                       char(m.captured(3).toUpper()[0].unicode()), m.captured(4).toInt()};
    return true;
}

QString lineText(const LineConfig& line) {
    return QStringLiteral("%1-%2%3%4")
        .arg(line.rate)
        .arg(line.dataBits)
        .arg(QLatin1Char(line.parity))
        .arg(line.stopBits);
}

LineMatch matchLine(const LineConfig& instrument, int clientRate, int clientStopBits) {
    if (!instrument.set)
        return LineMatch::Match;
    if (clientRate != instrument.rate)
        return LineMatch::OtherRate;
    return clientStopBits == instrument.stopBits ? LineMatch::Match : LineMatch::OtherStopBits;
}

QString clientLineText(int rate, int stopBits) {
    return QStringLiteral("%1 bit/s, %2 stop bits").arg(rate).arg(stopBits);
}

Reply lineNoise(Protocol protocol, int count, const QString& client, const LineConfig& line) {
    Reply r;
    r.logLine = QStringLiteral("%1 - -> dropped %2 bytes (line noise: client at %3, instrument "
                               "at %4)")
                    .arg(protocolName(protocol))
                    .arg(count)
                    .arg(client, lineText(line));
    return r;
}

std::vector<Reply> overLine(std::vector<Reply> replies, LineMatch match, const QString& client) {
    if (match != LineMatch::OtherStopBits)
        return replies;
    for (Reply& r : replies) {
        if (r.bytes.isEmpty())
            continue;
        const QByteArray noise = garbageBytes();
        QByteArray bytes;
        while (bytes.size() < r.bytes.size())
            bytes += noise;
        r.bytes = bytes.left(r.bytes.size());
        r.logLine += QStringLiteral(" garbled (client at %1)").arg(client);
    }
    return replies;
}

} // namespace pmx::sim
