#include "model/TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace pmx {

namespace {

QString decodeJapanese(const QByteArray& bytes) {
    // "windows-31j" is the ICU name of CP932 (NEC and IBM extensions, 0x5C as backslash);
    // older or non-ICU builds may know only the plain JIS name.
    for (const char* name : {"windows-31j", "Shift_JIS"}) {
        QStringDecoder decoder(name);
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    QStringDecoder fallback(QStringDecoder::System);
    return fallback.decode(bytes);
}

// A surrogate without its partner is no character: a name holding one could be loaded but
// never saved again, so it reads as the replacement character, as bad UTF-8 does.
QString withoutLoneSurrogates(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace

bool hasUtf16Bom(const QByteArray& bytes) {
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

QString decodeText(const QByteArray& bytes) {
    // Notepad's "Unicode" and "Unicode big endian" files: only their byte-order mark tells
    // them apart, and read as 8-bit text every other byte would be a NUL.
    if (hasUtf16Bom(bytes)) {
        const bool little = bytes.startsWith("\xFF\xFE");
        QStringDecoder utf16(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                             QStringDecoder::Flag::Stateless);
        return withoutLoneSurrogates(utf16.decode(bytes.mid(2)));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    return decodeJapanese(bytes);
}

QByteArray encodeText(const QString& text, bool* ok) {
    QStringEncoder encoder(QStringEncoder::System, QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    if (ok)
        *ok = !encoder.hasError();
    return bytes;
}

} // namespace pmx
