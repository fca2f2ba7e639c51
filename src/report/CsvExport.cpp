#include "report/CsvExport.h"
#include "model/AtomicFile.h"
#include "model/TextCodec.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
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

QString csvEncodingName(CsvEncoding encoding) {
    switch (encoding) {
    case CsvEncoding::Utf8:
        break;
    case CsvEncoding::Utf8Bom:
        return QStringLiteral("utf-8-bom");
    case CsvEncoding::ShiftJis:
        return QStringLiteral("shift_jis");
    }
    return QStringLiteral("utf-8");
}

std::optional<CsvEncoding> csvEncodingFromName(const QString& name) {
    for (const CsvEncoding e : {CsvEncoding::Utf8, CsvEncoding::Utf8Bom, CsvEncoding::ShiftJis})
        if (name.compare(csvEncodingName(e), Qt::CaseInsensitive) == 0)
            return e;
    return std::nullopt;
}

QString csvEncodingText(CsvEncoding encoding, strings::Lang lang) {
    switch (encoding) {
    case CsvEncoding::Utf8:
        break;
    case CsvEncoding::Utf8Bom:
        return strings::text(TextId::CsvUtf8Bom, lang);
    case CsvEncoding::ShiftJis:
        return strings::text(TextId::CsvShiftJis, lang);
    }
    return strings::text(TextId::CsvUtf8, lang);
}

QString csvEncodingText(CsvEncoding encoding) {
    return csvEncodingText(encoding, strings::language());
}

CsvEncoding encodingForAppend(CsvEncoding chosen, const QByteArray& existing, bool* bom) {
    *bom = false;
    if (existing.startsWith("\xEF\xBB\xBF"))
        return chosen == CsvEncoding::Utf8 ? CsvEncoding::Utf8 : CsvEncoding::Utf8Bom;
    const bool ascii =
        std::all_of(existing.begin(), existing.end(), [](char c) { return quint8(c) < 0x80; });
    if (ascii) {
        *bom = existing.isEmpty() && chosen == CsvEncoding::Utf8Bom;
        // A mark cannot go in the middle: the file stays plain UTF-8.
        return chosen == CsvEncoding::Utf8Bom && !existing.isEmpty() ? CsvEncoding::Utf8 : chosen;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(existing); // decoding happens on the conversion
    return utf8.hasError() ? CsvEncoding::ShiftJis : CsvEncoding::Utf8;
}

bool appendCsv(const QString& path, const ListArrays& lists, strings::Lang lang, QString* error,
               CsvWritten* written, CsvEncoding encoding) {
    const bool existed = QFile::exists(path);
    CsvEncoding used = encoding;
    if (!appendCsvText(path, csvBlock(lists, lang), error, encoding, &used))
        return false;
    if (written)
        *written = {int(std::count(lists.listed.begin(), lists.listed.end(), true)), existed,
                    encoding, used};
    return true;
}

namespace {

// The block's bytes in `encoding`; nothing, with the reason, when it cannot hold a character.
std::optional<QByteArray> encodeBlock(const QString& block, CsvEncoding encoding, QString* why) {
    if (encoding != CsvEncoding::ShiftJis) {
        // UTF-8 holds every character; where the system's encoding is not UTF-8, a character
        // it lacks is written as its replacement, as every other text file of the program is.
        return encodeText(block);
    }
    // The Shift_JIS of Japanese Windows (CP932), or the plain one where that is missing.
    for (const char* name : {"windows-31j", "Shift_JIS"}) {
        QStringEncoder encoder(name, QStringEncoder::Flag::Stateless);
        if (!encoder.isValid())
            continue;
        QByteArray bytes = encoder.encode(block);
        if (!encoder.hasError())
            return bytes;
        // Which character: the first one that does not encode on its own.
        for (qsizetype i = 0; i < block.size(); ++i) {
            const qsizetype n = block[i].isHighSurrogate() && i + 1 < block.size() ? 2 : 1;
            QStringEncoder one(name, QStringEncoder::Flag::Stateless);
            const QByteArray encoded = one.encode(QStringView(block).mid(i, n));
            if (one.hasError()) {
                *why = strings::text(TextId::CsvCannotHold)
                           .arg(csvEncodingText(encoding), block.mid(i, n));
                return std::nullopt;
            }
            i += n - 1;
        }
        *why = strings::text(TextId::CsvCannotHold).arg(csvEncodingText(encoding), block);
        return std::nullopt;
    }
    *why = strings::text(TextId::CsvCannotHold).arg(csvEncodingText(encoding), QString());
    return std::nullopt;
}

// What the file already holds, enough to tell its encoding; empty when it does not exist.
QByteArray existingText(const QString& path) {
    if (!QFileInfo(path).isFile())
        return {}; // a device reads as anything; it has no encoding of its own
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    constexpr qint64 kEnough = 4 * 1024 * 1024;
    QByteArray bytes = file.read(kEnough);
    // A multi-byte character cut at the end of what was read is not a fault of the file.
    while (!bytes.isEmpty() && bytes.size() == kEnough && quint8(bytes.back()) >= 0x80)
        bytes.chop(1);
    return bytes;
}

} // namespace

bool appendCsvText(const QString& path, const QString& block, QString* error, CsvEncoding encoding,
                   CsvEncoding* written) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    bool bom = false;
    const CsvEncoding used = encodingForAppend(encoding, existingText(path), &bom);
    QString why;
    const std::optional<QByteArray> text = encodeBlock(block, used, &why);
    if (!text)
        return fail(why);
    const QByteArray bytes = (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + *text;
    if (written)
        *written = used;
    // A block that does not fit is taken back whole: the next export must not glue its
    // title onto half a row.
    return appendToFile(path, bytes, error);
}

std::optional<QByteArray> csvBlockBytes(const QString& block, CsvEncoding encoding,
                                        QString* error) {
    QString why;
    const std::optional<QByteArray> text = encodeBlock(block, encoding, &why);
    if (!text) {
        if (error)
            *error = why;
        return std::nullopt;
    }
    return (encoding == CsvEncoding::Utf8Bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + *text;
}

QString csvWrittenText(const CsvWritten& written, const QString& path, strings::Lang lang) {
    QString text =
        strings::text(written.appended ? TextId::CsvItemsAppended : TextId::CsvItemsWritten, lang)
            .arg(written.items)
            .arg(QDir::toNativeSeparators(path));
    if (written.written != written.chosen)
        text += strings::text(TextId::CsvFileEncodingKept, lang)
                    .arg(csvEncodingText(written.written, lang));
    return text;
}

} // namespace pmx
