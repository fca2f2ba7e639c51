#include "JsonLine.h"

namespace pmx::cli {

QString jsonString(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

JsonLine& JsonLine::field(const char* key, const QString& value) {
    if (!m_fields.isEmpty())
        m_fields += QLatin1Char(',');
    m_fields += jsonString(QLatin1String(key)) + QLatin1Char(':') + value;
    return *this;
}

JsonLine& JsonLine::addText(const char* key, const QString& text) {
    return field(key, jsonString(text));
}

JsonLine& JsonLine::addNumber(const char* key, qint64 number) {
    return field(key, QString::number(number));
}

JsonLine& JsonLine::addBool(const char* key, bool value) {
    return field(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

JsonLine& JsonLine::addNull(const char* key) {
    return field(key, QStringLiteral("null"));
}

} // namespace pmx::cli
