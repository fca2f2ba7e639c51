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
    before.ModelName = QStringLiteral("before");
    for (int i = 0; i < kItemCount; ++i) {
        before.ItemName[i] = QStringLiteral("name %1").arg(i);
        before.ItemSel[i] = Selection(i % 3);
        before.ItemData[i] = qint16(i * 100);
    }
    for (const bool langEng : {false, true}) {
        ItemTable t = before;
        const ModelLoadResult r = readModelDefinition(bytes, langEng, t);
        FUZZ_CHECK(t.ItemSel == before.ItemSel && t.ItemData == before.ItemData);
        if (!r.ok) {
            FUZZ_CHECK(t.ModelName == before.ModelName && t.ItemName == before.ItemName);
            FUZZ_CHECK(r.failure.kind != FieldError::None && !r.errorText().isEmpty());
            continue;
        }
        FUZZ_CHECK(isStorableText(t.ModelName));
        for (const QString& name : t.ItemName)
            FUZZ_CHECK(isStorableText(name));
        const int needed = langEng ? kModelFieldsEnglish : kModelFieldsJapanese;
        if (decodeFields(bytes, needed).complete) {
            ItemTable longer = before;
            FUZZ_CHECK(readModelDefinition(bytes + "\x81\"" + bytes, langEng, longer).ok);
            FUZZ_CHECK(longer.ModelName == t.ModelName && longer.ItemName == t.ItemName);
        }
    }
    return 0;
}
