#include "model/TableFile.h"

#include <QFile>
#include <QFileInfo>

#include "model/AtomicFile.h"
#include "model/TextCodec.h"

namespace pmx {

bool isStorableText(const QString& text) {
    return !text.contains(u'"') && !text.contains(u'\r') && !text.contains(u'\n');
}

std::optional<QByteArray> writeTableFile(const ItemTable& table, QString* error) {
    auto refuse = [&](const QString& message) -> std::optional<QByteArray> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (!isStorableText(table.modelName))
        return refuse(strings::text(TextId::ModelNameNotStorable));
    for (int i = 0; i < kItemCount; ++i) {
        if (!isStorableText(table.names[i]))
            return refuse(strings::text(TextId::ItemNameNotStorable).arg(itemAddressText(i)));
    }

    QString text;
    text.reserve(8192);
    auto line = [&](const QString& field) {
        text += field;
        text += QLatin1String(kLineEnd);
    };
    auto quoted = [](const QString& s) { return u'"' + s + u'"'; };
    line(quoted(table.modelName));
    for (const QString& name : table.names)
        line(quoted(name));
    // QString::number is locale-independent: no group separators, '-' only when negative.
    for (Selection sel : table.selections)
        line(QString::number(qint16(sel)));
    for (qint16 data : table.values)
        line(QString::number(data));

    bool encoded = true;
    QByteArray bytes = encodeText(text, &encoded);
    if (!encoded)
        return refuse(strings::text(TextId::NameNotEncodable));
    return bytes;
}

namespace {

TableReadResult readTableText(const QString& fields, ItemTable& live, TableReadMode mode) {
    TableReadResult result;
    // All-or-nothing reads go into a copy that is committed only when the file is good.
    ItemTable staged;
    if (mode == TableReadMode::AllOrNothing)
        staged = live;
    ItemTable& table = mode == TableReadMode::Partial ? live : staged;

    FieldReader reader(fields);
    auto finish = [&]() -> TableReadResult& {
        result.failure = reader.failure();
        result.ok = result.failure.kind == FieldError::None;
        if (mode == TableReadMode::AllOrNothing) {
            if (result.ok) {
                live.modelName = staged.modelName;
                live.names = staged.names;
                live.selections = staged.selections;
                live.values = staged.values;
            } else {
                result.selectionsRead.clear();
            }
        }
        return result;
    };

    QString text;
    if (!reader.readText(&text))
        return finish();
    table.modelName = text;
    for (int i = 0; i < kItemCount; ++i) {
        if (!reader.readText(&text))
            return finish();
        table.names[i] = text;
    }
    for (int i = 0; i < kItemCount; ++i) {
        qint16 sel = 0;
        if (!reader.readSelection(&sel))
            return finish();
        table.selections[i] = Selection(sel);
        result.selectionsRead.append(i);
    }
    for (int i = 0; i < kItemCount; ++i) {
        qint16 data = 0;
        if (!reader.readInt16(&data))
            return finish();
        table.values[i] = data;
    }
    return finish();
}

} // namespace

TableReadResult readTableFile(const QByteArray& bytes, ItemTable& table, TableReadMode mode) {
    return readTableText(decodeFields(bytes, kTableFileLines).text, table, mode);
}

FieldText decodeFields(const QByteArray& bytes, int count) {
    // Where the fields end is found before decoding. In UTF-8 and CP932 the characters
    // that separate fields (blank, tab, '"', ',', CR, LF) are single bytes that never occur
    // inside a multi-byte character, so the bytes read as Latin-1 split exactly as the
    // decoded text does. UTF-16 decodes each unit alone, so it is decoded first.
    const bool utf16 = hasUtf16Bom(bytes);
    // A UTF-8 byte-order mark is not part of the first field; decodeText drops it.
    const qsizetype bom = !utf16 && bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const QString scanned = utf16 ? decodeText(bytes) : QString::fromLatin1(bytes.mid(bom));
    FieldReader reader(scanned);
    bool all = true;
    for (int i = 0; all && i < count; ++i)
        all = reader.skipField();
    const qsizetype end = all ? reader.position() : scanned.size();
    const QChar last = end > 0 ? scanned[end - 1] : QChar();
    FieldText out;
    out.complete = all && (last == u',' || last == u'\r' || last == u'\n');
    out.text = utf16 ? scanned.left(end) : decodeText(bytes.left(bom + end));
    return out;
}

std::optional<QString> loadFieldText(const QString& path, int count, FieldError* kind) {
    // Only regular files: opening a FIFO or device chosen by mistake could block forever.
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *kind = FieldError::CannotOpen;
        return std::nullopt;
    }
    // Read one byte past the limit rather than trusting size(): special files report 0 or
    // lie, and the file may grow while it is read.
    QByteArray bytes = file.read(kMaxTextFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *kind = FieldError::CannotOpen;
        return std::nullopt;
    }
    const bool more = bytes.size() > kMaxTextFileBytes;
    if (more)
        bytes.truncate(kMaxTextFileBytes);
    FieldText fields = decodeFields(bytes, count);
    // A field running into the limit might go on after it: nothing read can be trusted.
    if (more && !fields.complete) {
        *kind = FieldError::FileTooLarge;
        return std::nullopt;
    }
    return std::move(fields.text);
}

TableReadResult loadTableFile(const QString& path, ItemTable& table, TableReadMode mode) {
    FieldError kind = FieldError::None;
    const std::optional<QString> fields = loadFieldText(path, kTableFileLines, &kind);
    if (!fields) {
        TableReadResult result;
        result.failure.kind = kind;
        return result;
    }
    return readTableText(*fields, table, mode);
}

bool saveTableFile(const QString& path, const ItemTable& table, QString* error) {
    const std::optional<QByteArray> bytes = writeTableFile(table, error);
    if (!bytes)
        return false;
    return writeFileAtomically(path, *bytes, error);
}

} // namespace pmx
