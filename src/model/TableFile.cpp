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
        return refuse(QStringLiteral("The model name contains a double quote or a line end "
                                     "and cannot be saved."));
    for (int i = 0; i < kItemCount; ++i) {
        if (!isStorableText(table.names[i]))
            return refuse(QStringLiteral("The name of item %1 contains a double quote or a "
                                         "line end and cannot be saved.")
                              .arg(itemAddressText(i)));
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
        return refuse(QStringLiteral("A name cannot be represented in the system encoding."));
    return bytes;
}

TableReadResult readTableFile(const QByteArray& bytes, ItemTable& live, TableReadMode mode) {
    TableReadResult result;
    // All-or-nothing reads go into a copy that is committed only when the file is good.
    ItemTable staged;
    if (mode == TableReadMode::AllOrNothing)
        staged = live;
    ItemTable& table = mode == TableReadMode::Partial ? live : staged;

    FieldReader reader(decodeText(bytes));
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

std::optional<QByteArray> readSmallFile(const QString& path, FieldError* kind) {
    // Only regular files: opening a FIFO or device chosen by mistake could block forever.
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *kind = FieldError::CannotOpen;
        return std::nullopt;
    }
    // Read one byte past the limit rather than trusting size(): pipes and special files
    // report 0 or lie.
    QByteArray bytes = file.read(kMaxTextFileBytes + 1);
    if (bytes.size() > kMaxTextFileBytes) {
        *kind = FieldError::FileTooLarge;
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        *kind = FieldError::CannotOpen;
        return std::nullopt;
    }
    return bytes;
}

TableReadResult loadTableFile(const QString& path, ItemTable& table, TableReadMode mode) {
    FieldError kind = FieldError::None;
    const std::optional<QByteArray> bytes = readSmallFile(path, &kind);
    if (!bytes) {
        TableReadResult result;
        result.failure.kind = kind;
        return result;
    }
    return readTableFile(*bytes, table, mode);
}

bool saveTableFile(const QString& path, const ItemTable& table, QString* error) {
    const std::optional<QByteArray> bytes = writeTableFile(table, error);
    if (!bytes)
        return false;
    return writeFileAtomically(path, *bytes, error);
}

} // namespace pmx
