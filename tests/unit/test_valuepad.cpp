#include "TestPrinters.h"
#include "valuepad/ValuePad.h"
#include <gtest/gtest.h>

#include <random>

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
        {"", "-", "-", 0},    // a typed "-" on nothing waits for its digits
        {"", "-500", "-500", -500},
        {"", "-0500", "-500", -500},
        {"", "--5", " 5", 5},  // typed twice: the sign taken back
        {"~", "-7", "-7", -7}, // the pad's "+/-" on nothing leaves room for the typed sign
        {"", "4-", "-4", -4},
        {"", "4--", " 4", 4},
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

TEST(ValuePad, EveryKeySequenceLeavesAnEntryOfTheFixedShape) {
    // Seeded random presses of every pad and keyboard key: the entry is always empty, a
    // lone typed sign or a number in the entry shape, and typing "-" then digits on an
    // empty entry always gives the negative number.
    std::mt19937 random(22);
    const QString typedKeys = QStringLiteral("0123456789-\b.x");
    for (int run = 0; run < 2000; ++run) {
        ValuePad p;
        const int presses = int(random() % 14);
        for (int k = 0; k < presses; ++k) {
            const int key = int(random() % 26);
            if (key < 10)
                p.padDigit(key);
            else if (key == 10)
                p.padNegate();
            else if (key == 11)
                p.clear();
            else
                p.typedKey(typedKeys[key - 12]);
            const QString e = p.entry();
            ASSERT_TRUE(e.isEmpty() || e == "-" ||
                        e == ValuePad::formatEntry(ValuePad::readEntry(e)))
                << e.toStdString();
        }
        ValuePad typed;
        QString digits = QString::number(random() % 100000);
        for (QChar ch : "-" + digits)
            typed.typedKey(ch);
        const qint64 n = digits.toLongLong();
        EXPECT_EQ(typed.value(), -n) << digits.toStdString();
    }
}
