// Model definition files in both user-interface languages: all or nothing, names only,
// every name loaded can be stored, and bytes after the names needed change nothing.
#include "FuzzCheck.h"
#include "model/ModelDefinition.h"
#include "model/TableFile.h"

#include <cstdint>

using namespace pmx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    ItemTable before;
    before.modelName = QStringLiteral("before");
    for (int i = 0; i < kItemCount; ++i) {
        before.names[i] = QStringLiteral("name %1").arg(i);
        before.selections[i] = Selection(i % 3);
        before.values[i] = qint16(i * 100);
    }
    for (const bool langEng : {false, true}) {
        ItemTable t = before;
        const ModelLoadResult r = readModelDefinition(bytes, langEng, t);
        FUZZ_CHECK(t.selections == before.selections && t.values == before.values);
        if (!r.ok) {
            FUZZ_CHECK(t.modelName == before.modelName && t.names == before.names);
            FUZZ_CHECK(r.failure.kind != FieldError::None && !r.errorText().isEmpty());
            continue;
        }
        FUZZ_CHECK(isStorableText(t.modelName));
        for (const QString& name : t.names)
            FUZZ_CHECK(isStorableText(name));
        const int needed = langEng ? kModelFieldsEnglish : kModelFieldsJapanese;
        if (decodeFields(bytes, needed).complete) {
            ItemTable longer = before;
            FUZZ_CHECK(readModelDefinition(bytes + "\x81\"" + bytes, langEng, longer).ok);
            FUZZ_CHECK(longer.modelName == t.modelName && longer.names == t.names);
        }
    }
    return 0;
}
