#include "report/CsvExport.h"
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

QString MakeCsvName(const QString& stem, const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    const QChar sep = QLatin1Char('_');
    return stem + QString::number(d.year()) + sep + QString::number(d.month()) + sep +
           QString::number(d.day()) + sep + QString::number(t.hour()) + sep +
           QString::number(t.minute()) + sep + QString::number(t.second()) + QStringLiteral(".csv");
}

QString MakeCsvName(const QString& stem) {
    return MakeCsvName(stem, QDateTime::currentDateTime());
}

QString CsvBlock(const ListArrays& lists, strings::Lang lang) {
    QString out;
    out += quoted(strings::text(3, lang) + QLatin1Char(' ') + strings::text(1, lang)) + kEol;
    out += quoted(strings::text(106, lang)) + kEol;
    out += quoted(strings::text(107, lang)) + QLatin1Char(',') + quoted(strings::text(108, lang)) +
           kEol;
    for (int i = 0; i < kItemCount; ++i) {
        if (!lists.ListValid[i])
            continue;
        out += quoted(lists.ListItem[i]) + QLatin1Char(',') + field(lists.ListData[i]) + kEol;
    }
    return out;
}

bool WriteCsv(const QString& path, const ListArrays& lists, strings::Lang lang, QString* error,
              CsvWritten* written) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // A character the system code page lacks is written as its replacement, as every other
    // text file of the program does.
    const QByteArray bytes = encodeText(CsvBlock(lists, lang));
    QFile file(path);
    const bool existed = file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    if (!file.flush())
        return fail(file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (written)
        *written = {int(std::count(lists.ListValid.begin(), lists.ListValid.end(), true)), existed};
    return true;
}

QString CsvWrittenText(const CsvWritten& written, const QString& path, strings::Lang lang) {
    return strings::text(written.appended ? 240 : 249, lang)
        .arg(written.items)
        .arg(QDir::toNativeSeparators(path));
}

} // namespace pmx
