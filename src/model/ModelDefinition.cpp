#include "model/ModelDefinition.h"

#include <QFileInfo>

#include "model/TableFile.h"
#include "model/TextCodec.h"

namespace pmx {

QString ModelLoadResult::errorText(strings::Lang lang) const {
    if (ok)
        return {};
    const QString file = path.isEmpty() ? QString() : QFileInfo(path).fileName();
    const QString why = fieldFailureText(failure, lang);
    return file.isEmpty() ? strings::text(TextId::ModelNotLoaded, lang).arg(why)
                          : strings::text(TextId::ModelFileNotLoaded, lang).arg(file, why);
}

namespace {

int fieldsNeeded(bool langEng) {
    return langEng ? kModelFieldsEnglish : kModelFieldsJapanese;
}

ModelLoadResult readModelText(const QString& fields, bool langEng, ItemTable& table) {
    ModelLoadResult result;
    FieldReader reader(fields);
    QString modelName;
    std::array<QString, kItemCount> names;

    bool good = reader.readText(&modelName);
    // The English UI skips the Japanese block; those fields must still be well formed
    // (an unclosed quote there would shift the English block), but are not checked further.
    for (int i = 0; good && langEng && i < kItemCount; ++i)
        good = reader.skipField();
    for (int i = 0; good && i < kItemCount; ++i)
        good = reader.readText(&names[i]);

    result.failure = reader.failure();
    result.ok = good;
    if (good) {
        table.modelName = modelName;
        table.names = names;
    }
    return result;
}

} // namespace

ModelLoadResult readModelDefinition(const QByteArray& bytes, bool langEng, ItemTable& table) {
    return readModelText(decodeFields(bytes, fieldsNeeded(langEng)).text, langEng, table);
}

ModelLoadResult loadModelDefinition(const QString& path, bool langEng, ItemTable& table) {
    FieldError kind = FieldError::None;
    const std::optional<QString> fields = loadFieldText(path, fieldsNeeded(langEng), &kind);
    ModelLoadResult result;
    if (fields)
        result = readModelText(*fields, langEng, table);
    else
        result.failure.kind = kind;
    result.path = path;
    return result;
}

} // namespace pmx
