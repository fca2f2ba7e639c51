#include "TestPrinters.h"
#include "files/ValuePad.h"
#include <gtest/gtest.h>

using pmx::ValuePad;

TEST(ValuePad, PadAndTypedKeys) {
    const QString nines = QString(40, u'9');
    // Pad keys first (digits, '~' for "+/-"), then typed keys; the entry and what OK stores.
    const struct {
        const char* pad;
        QString typed;
        const char* entry;
        std::optional<qint16> stored;
    } cases[] = {
        {"12~3", "", "-123", -123},
        {"007", "", " 7", 7},
        {"00~", "", " 0", 0}, // minus zero is still zero
        {"~", "", "", 0},     // "+/-" on nothing stays empty, and empty stores 0
        {"", "-", " 0", 0},   // a typed "-" on nothing makes zero
        {"", "4-", "-4", -4},
        {"1234567899", "", " 12345678", std::nullopt},   // the pad stops after eight digits
        {"1234567899", "9", " 123456789", std::nullopt}, // typing does not
        {"1234567~89", "", "-12345678", std::nullopt},   // the sign position counts
        {"", nines, " 99999999999", std::nullopt},       // capped, never overflows
        {"", nines + "-", "-99999999999", std::nullopt},
        {"32767", "", " 32767", 32767},
        {"32768", "", " 32768", std::nullopt},
        {"32768~", "", "-32768", -32768},
        {"32769~", "", "-32769", std::nullopt},
        {"", "56x", " 56", 56}, // other keys only re-show the entry
        {"", "56\b", "", 0},    // Backspace clears the whole entry
        {"", "7.", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("pad " + testing::PrintToString(QString::fromLatin1(c.pad)) + ", typed " +
                     testing::PrintToString(c.typed));
        ValuePad p;
        for (const char* k = c.pad; *k; ++k)
            *k == '~' ? p.padNegate() : p.padDigit(*k - '0');
        for (QChar ch : c.typed)
            p.typedKey(ch);
        EXPECT_EQ(p.entry(), QLatin1String(c.entry));
        EXPECT_EQ(p.storableValue(), c.stored);
    }
}
