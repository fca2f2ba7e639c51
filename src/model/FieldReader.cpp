#include "model/FieldReader.h"

#include "text/Numbers.h"

#include <cmath>
#include <limits>

namespace pmx {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

QString fieldFailureText(const FieldFailure& failure, strings::Lang lang) {
    const auto text = [lang](TextId id) { return strings::text(id, lang); };
    TextId what = TextId::FileEndsEarly;
    switch (failure.kind) {
    case FieldError::None:
        return {};
    case FieldError::PastEnd:
        what = TextId::FileEndsEarly;
        break;
    case FieldError::UnclosedQuote:
        what = TextId::ClosingQuoteMissing;
        break;
    case FieldError::QuoteInText:
        what = TextId::QuoteInName;
        break;
    case FieldError::NotANumber:
        what = TextId::NotANumber;
        break;
    case FieldError::OutOfRange:
        what = TextId::OutsideInt16;
        break;
    case FieldError::BadSelection:
        what = TextId::BadSelection;
        break;
    case FieldError::FileTooLarge:
        return text(TextId::FileTooLarge);
    case FieldError::CannotOpen:
        return text(TextId::FileCannotOpen);
    }
    return text(TextId::FieldFailure).arg(failure.field).arg(failure.line).arg(text(what));
}

double fieldLeadingNumber(const QString& text) {
    // Blanks anywhere are ignored; the first character that cannot continue the number
    // ends it. Accepted: [sign] digits [. digits] [E|D [sign] digits].
    QByteArray number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && (isBlank(text[i]) || isLineEnd(text[i])))
            ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        number += char(text[i].unicode());
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (;; ++i) {
        skipBlanks();
        if (i >= n)
            break;
        if (isDigit(text[i])) {
            number += char(text[i].unicode());
            digits = true;
        } else if (text[i] == u'.' && !point) {
            number += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0.0;
    skipBlanks();
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        qsizetype j = i + 1;
        QByteArray exponent("e");
        while (j < n && isBlank(text[j]))
            ++j;
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += char(text[j++].unicode());
        bool expDigits = false;
        for (; j < n; ++j) {
            if (isBlank(text[j]))
                continue;
            if (!isDigit(text[j]))
                break;
            exponent += char(text[j].unicode());
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok) // overflow: toDouble reports it, the sign still tells which way
        return number.startsWith('-') ? -std::numeric_limits<double>::infinity()
                                      : std::numeric_limits<double>::infinity();
    return value;
}

FieldReader::FieldReader(QString text) : m_text(std::move(text)) {}

bool FieldReader::fail(FieldError kind) {
    m_failure.kind = kind;
    m_failure.field = m_field;
    m_failure.line = m_fieldLine;
    return false;
}

void FieldReader::consumeLineEnd() {
    // CR LF, lone LF and lone CR each end exactly one line.
    if (m_pos < m_text.size() && m_text[m_pos] == u'\r') {
        ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos;
    } else if (m_pos < m_text.size() && m_text[m_pos] == u'\n') {
        ++m_pos;
    }
    ++m_line;
}

bool FieldReader::nextRaw(QString* value, bool* quoted, bool* quoteAfterClose) {
    if (m_failure.kind != FieldError::None)
        return false;
    ++m_field;
    m_fieldLine = m_line;
    if (m_pos >= m_text.size())
        return fail(FieldError::PastEnd);

    const qsizetype n = m_text.size();
    while (m_pos < n && isBlank(m_text[m_pos]))
        ++m_pos;

    *quoted = false;
    *quoteAfterClose = false;
    if (m_pos < n && m_text[m_pos] == u'"') {
        const qsizetype start = m_pos + 1;
        qsizetype end = start;
        while (end < n && m_text[end] != u'"' && !isLineEnd(m_text[end]))
            ++end;
        // A quoted field ends on its own line; running on to a quote on a later line
        // would swallow the fields in between and shift every field after it.
        if (end >= n || m_text[end] != u'"')
            return fail(FieldError::UnclosedQuote);
        *value = m_text.mid(start, end - start);
        *quoted = true;
        m_pos = end + 1;
        while (m_pos < n && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos])) {
            if (m_text[m_pos] == u'"')
                *quoteAfterClose = true;
            ++m_pos;
        }
    } else {
        const qsizetype start = m_pos;
        while (m_pos < n && m_text[m_pos] != u',' && !isLineEnd(m_text[m_pos]))
            ++m_pos;
        *value = m_text.mid(start, m_pos - start);
    }

    if (m_pos < n && m_text[m_pos] == u',')
        ++m_pos;
    else if (m_pos < n)
        consumeLineEnd();
    return true;
}

bool FieldReader::readText(QString* value) {
    QString raw;
    bool quoted = false;
    bool quoteAfterClose = false;
    if (!nextRaw(&raw, &quoted, &quoteAfterClose))
        return false;
    if (quoteAfterClose || (!quoted && raw.contains(u'"')))
        return fail(FieldError::QuoteInText);
    *value = raw;
    return true;
}

bool FieldReader::skipField() {
    QString raw;
    bool quoted = false;
    bool quoteAfterClose = false;
    return nextRaw(&raw, &quoted, &quoteAfterClose);
}

bool FieldReader::readInt16(qint16* value) {
    QString raw;
    bool quoted = false;
    bool quoteAfterClose = false;
    if (!nextRaw(&raw, &quoted, &quoteAfterClose))
        return false;
    if (quoteAfterClose)
        return fail(FieldError::NotANumber);
    const std::optional<double> number = wholeNumber(raw);
    if (!number)
        return fail(FieldError::NotANumber);
    const std::optional<qint16> rounded = toInt16Rounded(*number);
    if (!rounded)
        return fail(FieldError::OutOfRange);
    *value = *rounded;
    return true;
}

bool FieldReader::readSelection(qint16* value) {
    QString raw;
    bool quoted = false;
    bool quoteAfterClose = false;
    if (!nextRaw(&raw, &quoted, &quoteAfterClose))
        return false;
    const double number = fieldLeadingNumber(raw);
    if (!std::isfinite(number))
        return fail(FieldError::BadSelection);
    const double rounded = roundHalfEven(number);
    if (rounded != 0.0 && rounded != 1.0 && rounded != 2.0)
        return fail(FieldError::BadSelection);
    *value = qint16(rounded);
    return true;
}

} // namespace pmx
