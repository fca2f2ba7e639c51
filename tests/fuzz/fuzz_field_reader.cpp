// The field reader on any text: every read counts one field, the position only moves
// forward, the first failure sticks, and what it returns is what it promises.
#include "FuzzCheck.h"
#include "model/FieldReader.h"
#include "model/TextCodec.h"

#include <cstdint>

using namespace pmx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first two bytes choose the kind of each read; the rest is the file.
    const quint16 plan = quint16(data[0] | (data[1] << 8));
    const QString text =
        decodeText(QByteArray(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2)));
    FieldReader reader(text);
    FieldFailure failed;
    qsizetype position = 0;
    int line = 1;
    for (int i = 0; i < 400; ++i) {
        const bool wasAtEnd = reader.atEnd();
        bool ok = false;
        QString value;
        qint16 number = 0;
        const int kind = (plan >> ((i % 8) * 2)) & 3;
        switch (kind) {
        case 0:
            ok = reader.readText(&value);
            if (ok)
                FUZZ_CHECK(!value.contains(u'"') && !value.contains(u'\r') &&
                           !value.contains(u'\n'));
            break;
        case 1:
            ok = reader.skipField();
            break;
        case 2:
            ok = reader.readInt16(&number); // any qint16 is in range by its type
            break;
        default:
            ok = reader.readSelection(&number);
            if (ok)
                FUZZ_CHECK(number >= 0 && number <= 2);
            break;
        }
        if (failed.kind != FieldError::None) {
            // Once failed, always failed, with the first failure.
            FUZZ_CHECK(!ok);
            FUZZ_CHECK(reader.failure().kind == failed.kind);
            FUZZ_CHECK(reader.failure().field == failed.field);
            FUZZ_CHECK(reader.failure().line == failed.line);
            break;
        }
        FUZZ_CHECK(reader.fieldNumber() == i + 1);
        FUZZ_CHECK(reader.position() >= position && reader.position() <= text.size());
        FUZZ_CHECK(reader.lineNumber() >= line);
        position = reader.position();
        line = reader.lineNumber();
        if (!ok) {
            failed = reader.failure();
            FUZZ_CHECK(failed.kind != FieldError::None);
            FUZZ_CHECK(failed.field == i + 1);
            // Only a read at the very end runs past it.
            FUZZ_CHECK((failed.kind == FieldError::PastEnd) == wasAtEnd);
            FUZZ_CHECK(!reader.errorText().isEmpty());
        }
    }
    return 0;
}
