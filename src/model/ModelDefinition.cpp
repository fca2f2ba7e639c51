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

ModelLoadResult readModelDefinition(const QByteArray& bytes, bool langEng, ItemTable& table) {
    ModelLoadResult result;
    FieldReader reader(decodeText(bytes));
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

ModelLoadResult loadModelDefinition(const QString& path, bool langEng, ItemTable& table) {
    FieldError kind = FieldError::None;
    const std::optional<QByteArray> bytes = readSmallFile(path, &kind);
    ModelLoadResult result;
    if (bytes) {
        result = readModelDefinition(*bytes, langEng, table);
    } else {
        result.failure.kind = kind;
    }
    result.path = path;
    return result;
}

} // namespace pmx
