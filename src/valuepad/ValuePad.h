#pragma once
#include <QString>
#include <optional>

namespace pmx {

// Entry logic of the setting value change dialog, kept free of widgets.
//
// The entry text is either empty or a whole number in a fixed shape: one leading blank
// in place of the sign when not negative, "-" when negative, no leading zeros
// (" 125", "-125", " 0"); or "-" alone, a typed sign waiting for its digits. It is the
// entry's only state; the dialog only shows it.
class ValuePad {
  public:
    // The pad stops taking digits once the entry text is longer than this (sign
    // position included), so the pad enters at most 8 digits.
    static constexpr int kPadLimit = 8;
    // Typed digits are not limited by the pad rule, but the entry is capped so the
    // number always fits a 64-bit integer; anything this long is out of the 16-bit
    // range anyway and is refused on OK.
    static constexpr int kTypedLimit = 12;

    // What a key typed into the entry box asks the dialog to do.
    enum class KeyAction { Digit, Negate, Ok, Clear, Resync };

    const QString& entry() const { return m_entry; }

    // Pad digit: appended only while the entry text is at most kPadLimit characters.
    void padDigit(int digit);
    // Typed digit: appended while the entry text is shorter than kTypedLimit.
    void typedDigit(int digit);
    // Pad "+/-": negates a non-empty entry; an empty entry stays empty.
    void padNegate();
    // Typed "-": negates; on an empty entry it starts a negative number ("-").
    void typedNegate();
    // "CE", Backspace, ".": empty entry.
    void clear() { m_entry.clear(); }

    // Applies a key typed into the entry box (the Qt key's text, first character);
    // digits and "-" are applied here, the caller acts on Ok / Clear / Resync.
    KeyAction typedKey(QChar ch);

    // Value of the entry (an empty entry reads as 0).
    qint64 value() const { return readEntry(m_entry); }
    // The value to store, or nothing when it lies outside -32768..32767.
    std::optional<qint16> storableValue() const;

    // Entry text of a number: " 125", "-125", " 0".
    static QString formatEntry(qint64 v);
    // Number of an entry text; blanks are ignored, an empty text reads as 0.
    static qint64 readEntry(const QString& text);

  private:
    void appendDigit(int digit);
    QString m_entry;
};

} // namespace pmx
