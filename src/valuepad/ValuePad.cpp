#include "valuepad/ValuePad.h"

namespace pmx {

QString ValuePad::formatEntry(qint64 v) {
    return v < 0 ? QString::number(v) : QLatin1Char(' ') + QString::number(v);
}

qint64 ValuePad::readEntry(const QString& text) {
    QString s = text;
    s.remove(QLatin1Char(' '));
    if (s.isEmpty())
        return 0;
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    // Only entry texts of our own making reach here; anything else reads as 0.
    return ok ? v : 0;
}

void ValuePad::appendDigit(int digit) {
    if (digit < 0 || digit > 9)
        return;
    // A typed "-" waits for its digits: -0 is no number yet, -05 is -5.
    if (m_entry == QLatin1String("-") && digit == 0)
        return;
    m_entry = formatEntry(readEntry(m_entry + QChar(u'0' + digit)));
}

void ValuePad::padDigit(int digit) {
    if (m_entry.size() <= kPadLimit)
        appendDigit(digit);
}

void ValuePad::typedDigit(int digit) {
    if (m_entry.size() < kTypedLimit)
        appendDigit(digit);
}

void ValuePad::padNegate() {
    if (m_entry == QLatin1String("-"))
        m_entry.clear(); // the sign typed alone, taken back
    else if (!m_entry.isEmpty())
        m_entry = formatEntry(-readEntry(m_entry));
}

void ValuePad::typedNegate() {
    // Typed on an empty entry, "-" starts a negative number, so that typing -500 gives
    // -500; a lone "-" typed again takes the sign back.
    if (m_entry.isEmpty())
        m_entry = QStringLiteral("-");
    else if (m_entry == QLatin1String("-"))
        m_entry.clear();
    else
        m_entry = formatEntry(-readEntry(m_entry));
}

ValuePad::KeyAction ValuePad::typedKey(QChar ch) {
    if (ch >= u'0' && ch <= u'9') {
        typedDigit(ch.unicode() - u'0');
        return KeyAction::Digit;
    }
    switch (ch.unicode()) {
    case u'-':
        typedNegate();
        return KeyAction::Negate;
    case 13:
        return KeyAction::Ok;
    case 8:
    case u'.':
        clear();
        return KeyAction::Clear;
    default:
        return KeyAction::Resync;
    }
}

std::optional<qint16> ValuePad::storableValue() const {
    const qint64 v = value();
    if (v < -32768 || v > 32767)
        return std::nullopt;
    return qint16(v);
}

} // namespace pmx
