#pragma once
#include <QByteArray>
#include <QString>

namespace pmx {

// Text files come from two worlds: files written on this system (system encoding, UTF-8 on
// Linux) and files written on Japanese Windows systems (Shift_JIS / CP932), sometimes
// re-saved as UTF-16. Bytes starting with a UTF-16 byte-order mark (either order) are
// UTF-16; bytes that are valid UTF-8 are taken as UTF-8 (a leading BOM is dropped);
// anything else is decoded as CP932.
QString decodeText(const QByteArray& bytes);

// Whether bytes start with a UTF-16 byte-order mark, little or big endian.
bool hasUtf16Bom(const QByteArray& bytes);

// Encodes in the system encoding. Returns false in *ok when a character cannot be
// represented (possible only where the system encoding is not a Unicode one).
QByteArray encodeText(const QString& text, bool* ok = nullptr);

// The line end of every text file the program writes.
inline constexpr char kLineEnd[] = "\r\n";

} // namespace pmx
