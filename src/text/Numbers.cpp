#include "text/Numbers.h"

#include <cmath>
#include <limits>

namespace pmx {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Scans a number starting at `pos`. Returns the number of characters it spans (0 when no
// digit was found) and its text in C-locale form in `out`.
qsizetype scanNumber(const QString& text, qsizetype pos, QByteArray& out) {
    const qsizetype start = pos;
    const qsizetype n = text.size();
    out.clear();
    if (pos < n && (text[pos] == u'+' || text[pos] == u'-'))
        out += char(text[pos++].unicode());
    int digits = 0;
    while (pos < n && isDigit(text[pos])) {
        out += char(text[pos++].unicode());
        ++digits;
    }
    if (pos < n && text[pos] == u'.') {
        out += '.';
        ++pos;
        while (pos < n && isDigit(text[pos])) {
            out += char(text[pos++].unicode());
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when at least one digit follows it ("12e" is just 12).
    if (pos < n && (text[pos] == u'e' || text[pos] == u'E')) {
        qsizetype p = pos + 1;
        QByteArray exp("e");
        if (p < n && (text[p] == u'+' || text[p] == u'-'))
            exp += char(text[p++].unicode());
        int expDigits = 0;
        while (p < n && isDigit(text[p])) {
            exp += char(text[p++].unicode());
            ++expDigits;
        }
        if (expDigits > 0) {
            out += exp;
            pos = p;
        }
    }
    return pos - start;
}

double toDouble(const QByteArray& cText) {
    bool ok = false;
    const double v = cText.toDouble(&ok); // QByteArray::toDouble is always C locale
    if (ok)
        return v;
    // A scanned number fails only by its size: a negative exponent made it too small to
    // tell from 0, any other too large; the value itself may come back as 0 either way.
    if (cText.contains("e-"))
        return 0.0;
    const double inf = std::numeric_limits<double>::infinity();
    return cText.startsWith('-') ? -inf : inf;
}

} // namespace

double roundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    const double floorV = std::floor(value);
    const double diff = value - floorV;
    if (diff < 0.5)
        return floorV;
    if (diff > 0.5)
        return floorV + 1.0;
    return std::fmod(floorV, 2.0) == 0.0 ? floorV : floorV + 1.0;
}

double leadingNumber(const QString& text) {
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    QByteArray cText;
    if (scanNumber(text, pos, cText) == 0)
        return 0.0;
    return toDouble(cText);
}

std::optional<qint16> toInt16Rounded(double value) {
    const double r = roundHalfEven(value);
    if (!std::isfinite(r) || r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return qint16(r);
}

std::optional<double> wholeNumber(const QString& text) {
    const QString t = text.trimmed();
    QByteArray cText;
    const qsizetype len = scanNumber(t, 0, cText);
    if (len == 0 || len != t.size())
        return std::nullopt;
    return toDouble(cText);
}

std::optional<qint32> toInt32Whole(const QString& text) {
    const std::optional<double> value = wholeNumber(text);
    if (!value)
        return std::nullopt;
    const double r = roundHalfEven(*value);
    if (!std::isfinite(r) || r < double(std::numeric_limits<qint32>::min()) ||
        r > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(r);
}

} // namespace pmx
