#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "model/FieldReader.h"
#include "model/ItemTable.h"

namespace pmx {

// The 385-line layout shared by the state file and the data files: modelName,
// names[0..127] between double quotes, then selections[0..127] and values[0..127] as
// plain decimal numbers, one field per line, CR LF line ends.
constexpr int kTableFileLines = 1 + 3 * kItemCount;

enum class TableReadMode {
    // Stop at the first error; fields read before it keep their new values (the state
    // file at start-up: a file cut short still brings back what it holds).
    Partial,
    // Read into a copy and change nothing unless the whole file is good (data files).
    AllOrNothing,
};

struct TableReadResult {
    bool ok = false;
    FieldFailure failure;      // kind None when ok
    QList<int> selectionsRead; // indices whose selection was set by this read
    QString errorText(strings::Lang lang = strings::Lang::English) const {
        return fieldFailureText(failure, lang);
    }
};

// Names that cannot be stored in a table file: a double quote would end the field early,
// a line end would split it.
bool isStorableText(const QString& text);

// The file's bytes (system encoding). Returns nothing, with a message in *error, when
// modelName or a name holds a double quote or a line end, or cannot be encoded: such a
// file would not read back as the same table.
std::optional<QByteArray> writeTableFile(const ItemTable& table, QString* error = nullptr);

// Reads modelName, names, selections and values from a table file's bytes; nothing else
// in the table is touched. Only the first 385 fields count: whatever follows them is
// neither read nor decoded.
TableReadResult readTableFile(const QByteArray& bytes, ItemTable& table, TableReadMode mode);

// The same on a file. A file that cannot be opened, or whose 385 fields do not end within
// kMaxTextFileBytes, fails without touching the table; what follows the fields is ignored
// however long it is.
TableReadResult loadTableFile(const QString& path, ItemTable& table, TableReadMode mode);

// writeTableFile, then an atomic replace of path (the old file survives any failure).
bool saveTableFile(const QString& path, const ItemTable& table, QString* error = nullptr);

// The most of a text file that is read: a table or model file is a few kilobytes.
constexpr qint64 kMaxTextFileBytes = 4 * 1024 * 1024;

// The first `count` fields of a text file's bytes, decoded (decodeText) without anything
// after them: bytes after the last field (junk, a tail in another encoding) can change
// neither which encoding the fields are read in nor what they hold. `complete` tells
// whether the bytes hold `count` fields each closed by a comma or line end.
struct FieldText {
    QString text;
    bool complete = false;
};
FieldText decodeFields(const QByteArray& bytes, int count);

// decodeFields on a file, of which at most kMaxTextFileBytes are read. Returns nothing,
// with *kind CannotOpen when it cannot be read, or FileTooLarge when it goes on past that
// limit without closing its `count` fields within it.
std::optional<QString> loadFieldText(const QString& path, int count, FieldError* kind);

} // namespace pmx
