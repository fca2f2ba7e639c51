#pragma once
#include <QByteArray>
#include <QString>

#include "model/FieldReader.h"
#include "model/ItemTable.h"

namespace pmx {

// Model definition file: field 1 the model name, fields 2..129 the Japanese item names,
// fields 130..257 the English item names. The Japanese UI reads fields 1..129, the English
// UI fields 1 and 130..257 (a Japanese-only file of 129 fields is too short for it).
// Anything after the last field needed is ignored.
constexpr int kModelFieldsJapanese = 1 + kItemCount;
constexpr int kModelFieldsEnglish = 1 + 2 * kItemCount;

struct ModelLoadResult {
    bool ok = false;
    QString path;         // the file, as given
    FieldFailure failure; // where and why reading stopped; kind None when ok

    // E.g. "Cannot load model.txt: field 130 (line 130): the file ends too early".
    QString errorText(strings::Lang lang = strings::Lang::English) const;
};

// Loads modelName and names[0..127] from a model definition file. All or nothing: on
// any failure (cannot open, too short, a name with a double quote, ...) the table is left
// exactly as it was. selections and values are never touched.
ModelLoadResult loadModelDefinition(const QString& path, bool langEng, ItemTable& table);

// The same on the file's bytes (decoded as decodeText does; only the fields needed).
ModelLoadResult readModelDefinition(const QByteArray& bytes, bool langEng, ItemTable& table);

} // namespace pmx
