#pragma once
#include "report/ListData.h"
#include "text/StringTable.h"
#include <QDateTime>
#include <QString>

#include <optional>

namespace pmx {

// The proposed export name: stem, then year_month_day_hour_minute_second without leading
// zeros and ".csv" ("PMX-31570A2026_12_5_3_7_9.csv").
QString csvFileName(const QString& stem, const QDateTime& when);
QString csvFileName(const QString& stem); // local clock, now

// The lines of one export block, CR LF ended: title, "Parameter", the two column headings,
// then one line per listed item. Numbers (DEC) unquoted, texts quoted as they stand.
QString csvBlock(const ListArrays& lists, strings::Lang lang);

// How the text of a CSV file is encoded. UTF-8, the system's encoding, is the default;
// spreadsheet programs on Japanese systems read the other two without asking.
enum class CsvEncoding { Utf8, Utf8Bom, ShiftJis };
// "utf-8", "utf-8-bom", "shift_jis": the command line's and the settings' names.
QString csvEncodingName(CsvEncoding encoding);
std::optional<CsvEncoding> csvEncodingFromName(const QString& name);
// "UTF-8", "UTF-8 with BOM", "Shift_JIS", in the run's language or in `lang`.
QString csvEncodingText(CsvEncoding encoding);
QString csvEncodingText(CsvEncoding encoding, strings::Lang lang);

// What appending in `chosen` to a file that already holds `existing` writes, so that one
// file never holds two encodings: a file whose text says its encoding keeps it (a BOM:
// UTF-8; other valid UTF-8 beyond ASCII: UTF-8; anything else: Shift_JIS), an empty or
// ASCII-only file takes the chosen one. *bom: the byte-order mark goes first (an empty
// file, UTF-8 with BOM chosen); a mark is never written in the middle of a file.
CsvEncoding encodingForAppend(CsvEncoding chosen, const QByteArray& existing, bool* bom);

// What an export did: how many items it listed, whether it added them to a file that was
// already there, and the encoding it wrote, which is the file's own when that differs from
// the one chosen.
struct CsvWritten {
    int items = 0;
    bool appended = false;
    CsvEncoding chosen = CsvEncoding::Utf8;
    CsvEncoding written = CsvEncoding::Utf8;
};

// Appends one block to `path` (created when missing) in the chosen encoding, or in the
// encoding the file already has (encodingForAppend). Returns false and fills `error` when
// the file cannot be opened, the block does not go in whole, or the encoding cannot hold a
// text of the block; the file is then as it was (appendToFile).
bool appendCsv(const QString& path, const ListArrays& lists, strings::Lang lang,
               QString* error = nullptr, CsvWritten* written = nullptr,
               CsvEncoding encoding = CsvEncoding::Utf8);

// The bytes of `block` in `encoding` for a stream that starts with it (standard output):
// UTF-8 with BOM begins with its mark. Nothing, with the reason in *error, when the
// encoding cannot hold a character of the block.
std::optional<QByteArray> csvBlockBytes(const QString& block, CsvEncoding encoding,
                                        QString* error = nullptr);

// For the operator, where the rows went: "58 items appended to PATH", or "... written to
// the new file PATH" when the export created the file; with the encoding when the file's
// own was used instead of the one chosen.
QString csvWrittenText(const CsvWritten& written, const QString& path, strings::Lang lang);

// A block of rows of texts, CR LF ended: the title, then each row (the first may be the
// headings). A field that is a decimal number is written unquoted, any other quoted.
QString csvRowsBlock(const QString& title, const QList<QStringList>& rows);

// Appends `block` to `path` as appendCsv does; *written (when given) gets the encoding.
bool appendCsvText(const QString& path, const QString& block, QString* error = nullptr,
                   CsvEncoding encoding = CsvEncoding::Utf8, CsvEncoding* written = nullptr);

} // namespace pmx
