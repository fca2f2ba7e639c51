#pragma once
// The commissioning record: what a chosen set of change records (one transfer, or a
// period) did to the instruments, as a sheet with a header and one row per item written,
// for a PDF (src/report/render/CommissioningPdf.*) and a CSV.
#include "text/StringTable.h"
#include "transfer/ChangeLog.h"

#include <QList>
#include <QPair>
#include <QStringList>

namespace pmx {

struct CommissioningSheet {
    strings::Lang lang = strings::Lang::English;
    QString title;
    // Caption and value: instrument, port, operator, time, table file, transfer, computer.
    QList<QPair<QString, QString>> header;
    QStringList columns; // time, item, name, before, written, after, outcome
    QList<QStringList> rows;
};

// The outcome of a record as the operator reads it ("refused 03", "照合済み").
QString outcomeText(const ChangeRecord& record, strings::Lang lang);
// The value a record leaves the item with, as far as is known: the value written once
// confirmed, what the read-back found when not kept, empty otherwise.
QString valueAfterText(const ChangeRecord& record);

CommissioningSheet commissioningSheet(const QList<ChangeRecord>& records, strings::Lang lang);
// UTF-8 with its mark (spreadsheets then read Japanese right), CR LF line ends, every
// field quoted.
QByteArray commissioningCsv(const CommissioningSheet& sheet);

} // namespace pmx
