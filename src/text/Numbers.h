#pragma once
#include <QString>
#include <optional>

namespace pmx {

// Numeric value of the leading number of a text: leading blanks skipped, then an
// optional sign, digits, an optional decimal point with digits and an optional exponent.
// A text without a leading number has the value 0. Never depends on the user's locale.
double leadingNumber(const QString& text);

// Nearest 16-bit integer, halves to the even neighbour; nullopt when the rounded value
// does not fit (or the value is not finite).
std::optional<qint16> toInt16Rounded(double value);

// The value of a text that is one number as a whole (surrounding blanks allowed):
// [sign] digits [. digits] [e [sign] digits], or "." digits. Anything else: nullopt;
// an exponent too large gives +-infinity.
std::optional<double> wholeNumber(const QString& text);

// The whole text (surrounding blanks allowed) must be one number; it is rounded to the
// nearest 32-bit integer, halves to even. Anything else, or out of range: nullopt.
std::optional<qint32> toInt32Whole(const QString& text);

// Rounds halves to the even neighbour, independently of the floating-point environment.
double roundHalfEven(double value);

} // namespace pmx
