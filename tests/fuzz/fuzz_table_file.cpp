// Table files (the state file reads them partially, data files all or nothing): both
// modes agree; a refused all-or-nothing read changes nothing; a partial read stops at its
// failure; a loaded table saves and reloads equal; bytes after the 385 fields change
// nothing.
#include "FuzzCheck.h"
#include "model/TableFile.h"

#include <cstdint>

using namespace pmx;

namespace {

ItemTable sentinel() {
    ItemTable t;
    t.modelName = QStringLiteral("before");
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("name %1").arg(i);
        t.selections[i] = Selection::Partial;
        t.values[i] = qint16(-1000 - i);
    }
    return t;
}

bool sameStored(const ItemTable& a, const ItemTable& b) {
    return a.modelName == b.modelName && a.names == b.names && a.selections == b.selections &&
           a.values == b.values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ItemTable before = sentinel();

    ItemTable whole = before;
    const TableReadResult all = readTableFile(bytes, whole, TableReadMode::AllOrNothing);
    ItemTable partial = before;
    const TableReadResult part = readTableFile(bytes, partial, TableReadMode::Partial);

    FUZZ_CHECK(all.ok == part.ok);
    FUZZ_CHECK(all.failure.kind == part.failure.kind && all.failure.field == part.failure.field &&
               all.failure.line == part.failure.line);
    if (!all.ok) {
        FUZZ_CHECK(sameStored(whole, before));
        FUZZ_CHECK(all.selectionsRead.isEmpty());
        // The partial read took every field before the failing one and none after it.
        const int field = part.failure.field;
        FUZZ_CHECK(field >= 1 && field <= kTableFileLines);
        FUZZ_CHECK(part.selectionsRead.size() == qBound(0, field - 1 - 1 - kItemCount, kItemCount));
        if (field == 1)
            FUZZ_CHECK(partial.modelName == before.modelName);
        for (int i = 0; i < kItemCount; ++i) {
            if (field <= 1 + 1 + i)
                FUZZ_CHECK(partial.names[i] == before.names[i]);
            if (field <= 1 + kItemCount + 1 + i)
                FUZZ_CHECK(partial.selections[i] == before.selections[i]);
            if (field <= 1 + 2 * kItemCount + 1 + i)
                FUZZ_CHECK(partial.values[i] == before.values[i]);
        }
        return 0;
    }
    FUZZ_CHECK(sameStored(whole, partial));
    FUZZ_CHECK(all.selectionsRead.size() == kItemCount);

    // What was loaded saves, and the saved file reloads as the same table, byte-stable.
    QString error;
    const std::optional<QByteArray> saved = writeTableFile(whole, &error);
    FUZZ_CHECK(saved.has_value());
    ItemTable again = sentinel();
    FUZZ_CHECK(readTableFile(*saved, again, TableReadMode::AllOrNothing).ok);
    FUZZ_CHECK(sameStored(again, whole));
    FUZZ_CHECK(writeTableFile(again) == saved);

    // Once the 385 fields are closed, nothing after them counts: not even the file again.
    if (decodeFields(bytes, kTableFileLines).complete) {
        ItemTable longer = sentinel();
        FUZZ_CHECK(
            readTableFile(bytes + "\xFF\xFE\"" + bytes, longer, TableReadMode::AllOrNothing).ok);
        FUZZ_CHECK(sameStored(longer, whole));
    }
    return 0;
}
