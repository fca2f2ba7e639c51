#pragma once
#include "report/ListData.h"
#include "text/StringTable.h"
#include <QDateTime>
#include <QString>

namespace pmx {

// The proposed export name: stem, then year_month_day_hour_minute_second without leading
// zeros and ".csv" ("PMX-31570A2026_12_5_3_7_9.csv").
QString csvFileName(const QString& stem, const QDateTime& when);
QString csvFileName(const QString& stem); // local clock, now

// The lines of one export block, CR LF ended: title, "Parameter", the two column headings,
// then one line per listed item. Numbers (DEC) unquoted, texts quoted as they stand.
QString csvBlock(const ListArrays& lists, strings::Lang lang);

// What an export did: how many items it listed, and whether it added them to a file that
// was already there.
struct CsvWritten {
    int items = 0;
    bool appended = false;
};

// Appends one block to `path` (created when missing) in the system encoding. Returns false
// and fills `error` when the file cannot be opened or the block does not go in whole;
// the file is then as it was (appendToFile).
bool appendCsv(const QString& path, const ListArrays& lists, strings::Lang lang,
               QString* error = nullptr, CsvWritten* written = nullptr);

// For the operator, where the rows went: "58 items appended to PATH", or "... written to
// the new file PATH" when the export created the file.
QString csvWrittenText(const CsvWritten& written, const QString& path, strings::Lang lang);

// A block of rows of texts, CR LF ended: the title, then each row (the first may be the
// headings). A field that is a decimal number is written unquoted, any other quoted.
QString csvRowsBlock(const QString& title, const QList<QStringList>& rows);

// Appends `block` to `path` as appendCsv does.
bool appendCsvText(const QString& path, const QString& block, QString* error = nullptr);

} // namespace pmx
