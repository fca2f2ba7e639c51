#include "transfer/Commissioning.h"

#include <QDir>
#include <QLocale>

namespace pmx {

namespace {

QString distinct(const QStringList& values) {
    QStringList out;
    for (const QString& v : values)
        if (!v.isEmpty() && !out.contains(v))
            out << v;
    return out.join(QStringLiteral(", "));
}

QString shownTime(const QDateTime& utc) {
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString quoted(const QString& field) {
    QString f = field;
    f.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + f + QLatin1Char('"');
}

} // namespace

QString outcomeText(const ChangeRecord& r, strings::Lang lang) {
    switch (r.outcome) {
    case ChangeOutcome::Confirmed:
        return strings::text(TextId::OutcomeConfirmed, lang);
    case ChangeOutcome::Verified:
        return strings::text(TextId::OutcomeVerified, lang);
    case ChangeOutcome::NotKept:
        return strings::text(TextId::OutcomeNotKept, lang);
    case ChangeOutcome::Refused:
        return strings::text(TextId::OutcomeRefusedCode, lang).arg(r.code).trimmed();
    case ChangeOutcome::Unconfirmed:
        return strings::text(TextId::OutcomeUnconfirmed, lang);
    case ChangeOutcome::NoAnswer:
        return strings::text(TextId::OutcomeNoAnswerRecord, lang);
    case ChangeOutcome::Damaged:
        return strings::text(TextId::OutcomeDamaged, lang);
    case ChangeOutcome::Lost:
        return strings::text(TextId::OutcomeLostRecord, lang);
    }
    return {};
}

QString valueAfterText(const ChangeRecord& r) {
    switch (r.outcome) {
    case ChangeOutcome::Confirmed:
    case ChangeOutcome::Verified:
        return QString::number(r.written);
    case ChangeOutcome::NotKept:
        return r.holds ? QString::number(*r.holds) : QString();
    default:
        return {};
    }
}

CommissioningSheet commissioningSheet(const QList<ChangeRecord>& records, strings::Lang lang) {
    CommissioningSheet s;
    s.lang = lang;
    s.title = strings::text(TextId::CommissioningTitle, lang);
    QStringList instruments, ports, users, tables, transfers, hosts;
    for (const ChangeRecord& r : records) {
        instruments << QString::number(r.instrument);
        ports << (r.device.isEmpty() || r.device == r.port
                      ? r.port
                      : r.port + QStringLiteral(" (") + r.device + QLatin1Char(')'));
        users << r.user;
        tables << QDir::toNativeSeparators(r.tableFile);
        transfers << r.transfer;
        hosts << r.host;
    }
    QString period;
    if (!records.isEmpty()) {
        period = shownTime(records.first().time);
        if (records.last().time != records.first().time)
            period += QStringLiteral(" \u2013 ") + shownTime(records.last().time);
    }
    const auto caption = [lang](TextId id) { return strings::text(id, lang); };
    s.header = {
        {caption(TextId::HistoryInstrument), distinct(instruments)},
        {caption(TextId::HistoryPort), distinct(ports)},
        {caption(TextId::HistoryUser), distinct(users)},
        {caption(TextId::HistoryTime), period},
        {caption(TextId::CommissioningTableFile), distinct(tables)},
        {caption(TextId::CommissioningTransfer), distinct(transfers)},
        {caption(TextId::CommissioningHost), distinct(hosts)},
    };
    s.columns = {caption(TextId::HistoryTime),        caption(TextId::HistoryInstrument),
                 caption(TextId::HistoryItem),        caption(TextId::HistoryName),
                 caption(TextId::HistoryBefore),      caption(TextId::HistoryWritten),
                 caption(TextId::CommissioningAfter), caption(TextId::HistoryOutcome)};
    for (const ChangeRecord& r : records)
        s.rows << QStringList{
            shownTime(r.time),
            QString::number(r.instrument),
            QString::number(r.item, 16).rightJustified(4, QLatin1Char('0')).toUpper() +
                QLatin1Char('h'),
            r.name,
            r.before ? QString::number(*r.before) : QString(),
            QString::number(r.written),
            valueAfterText(r),
            outcomeText(r, lang)};
    return s;
}

QByteArray commissioningCsv(const CommissioningSheet& s) {
    QStringList lines;
    lines << quoted(s.title);
    for (const auto& [caption, value] : s.header)
        lines << quoted(caption) + QLatin1Char(',') + quoted(value);
    lines << QString();
    QStringList head;
    for (const QString& c : s.columns)
        head << quoted(c);
    lines << head.join(QLatin1Char(','));
    for (const QStringList& row : s.rows) {
        QStringList fields;
        for (const QString& f : row)
            fields << quoted(f);
        lines << fields.join(QLatin1Char(','));
    }
    return QByteArray("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

} // namespace pmx
