#include "report/CsvExport.h"
#include "model/AtomicFile.h"
#include "model/TextCodec.h"
#include <QDir>
#include <QFile>
#include <algorithm>

namespace pmx {

namespace {
const QString kEol = QString::fromLatin1(kLineEnd);

// Texts go between quotation marks unchanged: the file format has no escape for them.
QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString field(const ListValue& v) {
    return v.isText() ? quoted(v.toText()) : v.toText();
}
} // namespace

QString csvFileName(const QString& stem, const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    const QChar sep = QLatin1Char('_');
    return stem + QString::number(d.year()) + sep + QString::number(d.month()) + sep +
           QString::number(d.day()) + sep + QString::number(t.hour()) + sep +
           QString::number(t.minute()) + sep + QString::number(t.second()) + QStringLiteral(".csv");
}

QString csvFileName(const QString& stem) {
    return csvFileName(stem, QDateTime::currentDateTime());
}

QString csvBlock(const ListArrays& lists, strings::Lang lang) {
    QString out;
    out += quoted(strings::programTitle(lang)) + kEol;
    out += quoted(strings::text(TextId::ReportParameter, lang)) + kEol;
    out += quoted(strings::text(TextId::ReportDataItem, lang)) + QLatin1Char(',') +
           quoted(strings::text(TextId::ReportData, lang)) + kEol;
    for (int i = 0; i < kItemCount; ++i) {
        if (!lists.listed[i])
            continue;
        out += quoted(lists.names[i]) + QLatin1Char(',') + field(lists.values[i]) + kEol;
    }
    return out;
}

QString csvRowsBlock(const QString& title, const QList<QStringList>& rows) {
    QString out = quoted(title) + kEol;
    for (const QStringList& row : rows) {
        QStringList fields;
        for (const QString& text : row) {
            bool number = false;
            text.toInt(&number);
            fields << (number ? text : quoted(text));
        }
        out += fields.join(QLatin1Char(',')) + kEol;
    }
    return out;
}

bool appendCsv(const QString& path, const ListArrays& lists, strings::Lang lang, QString* error,
               CsvWritten* written) {
    const bool existed = QFile::exists(path);
    if (!appendCsvText(path, csvBlock(lists, lang), error))
        return false;
    if (written)
        *written = {int(std::count(lists.listed.begin(), lists.listed.end(), true)), existed};
    return true;
}

bool appendCsvText(const QString& path, const QString& block, QString* error) {
    // A character the system code page lacks is written as its replacement, as every other
    // text file of the program does. A block that does not fit is taken back whole: the
    // next export must not glue its title onto half a row.
    return appendToFile(path, encodeText(block), error);
}

QString csvWrittenText(const CsvWritten& written, const QString& path, strings::Lang lang) {
    return strings::text(written.appended ? TextId::CsvItemsAppended : TextId::CsvItemsWritten,
                         lang)
        .arg(written.items)
        .arg(QDir::toNativeSeparators(path));
}

} // namespace pmx
