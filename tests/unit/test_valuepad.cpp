#include "files/ValuePad.h"
#include <gtest/gtest.h>

using pmx::ValuePad;
using Action = ValuePad::KeyAction;

namespace {
void pad(ValuePad& p, const char* keys) {
    for (const char* k = keys; *k; ++k) {
        if (*k == '~')
            p.padNegate();
        else
            p.padDigit(*k - '0');
    }
}
} // namespace

TEST(ValuePad, EntryTextShape) {
    EXPECT_EQ(ValuePad::formatEntry(125), QStringLiteral(" 125"));
    EXPECT_EQ(ValuePad::formatEntry(-125), QStringLiteral("-125"));
    EXPECT_EQ(ValuePad::formatEntry(0), QStringLiteral(" 0"));
    EXPECT_EQ(ValuePad::readEntry(QString()), 0);
    EXPECT_EQ(ValuePad::readEntry(QStringLiteral(" 125")), 125);
    EXPECT_EQ(ValuePad::readEntry(QStringLiteral("-125")), -125);
}

TEST(ValuePad, PadDigitsAndNegate) {
    ValuePad p;
    pad(p, "12~3");
    EXPECT_EQ(p.entry(), QStringLiteral("-123"));

    ValuePad q;
    pad(q, "007");
    EXPECT_EQ(q.entry(), QStringLiteral(" 7"));

    ValuePad z;
    pad(z, "00");
    EXPECT_EQ(z.entry(), QStringLiteral(" 0"));
    pad(z, "~");
    EXPECT_EQ(z.entry(), QStringLiteral(" 0")) << "minus zero is still zero";
}

TEST(ValuePad, PadNegateOnEmptyStaysEmptyButTypedMinusGivesZero) {
    ValuePad p;
    p.padNegate();
    EXPECT_TRUE(p.entry().isEmpty());
    EXPECT_EQ(p.typedKey(u'-'), Action::Negate);
    EXPECT_EQ(p.entry(), QStringLiteral(" 0"));
    p.typedKey(u'4');
    p.typedKey(u'-');
    EXPECT_EQ(p.entry(), QStringLiteral("-4"));
}

TEST(ValuePad, PadStopsAfterEightDigitsTypingDoesNot) {
    ValuePad p;
    pad(p, "1234567899");
    EXPECT_EQ(p.entry(), QStringLiteral(" 12345678"));
    p.typedKey(u'9');
    EXPECT_EQ(p.entry(), QStringLiteral(" 123456789"));

    // The sign position counts: a negative entry of 7 digits still takes one more.
    ValuePad n;
    pad(n, "1234567~89");
    EXPECT_EQ(n.entry(), QStringLiteral("-12345678"));

    // Typing is capped only far beyond the 16-bit range, and never overflows.
    ValuePad t;
    for (int i = 0; i < 40; ++i)
        t.typedKey(u'9');
    EXPECT_EQ(t.entry().size(), ValuePad::kTypedLimit);
    EXPECT_FALSE(t.storableValue().has_value());
    t.typedKey(u'-');
    EXPECT_EQ(t.entry(), QStringLiteral("-99999999999"));
}

TEST(ValuePad, KeyRules) {
    ValuePad p;
    p.typedKey(u'5');
    p.typedKey(u'6');
    EXPECT_EQ(p.typedKey(u'x'), Action::Resync);
    EXPECT_EQ(p.entry(), QStringLiteral(" 56"));
    EXPECT_EQ(p.typedKey(QChar(13)), Action::Ok);
    EXPECT_EQ(p.entry(), QStringLiteral(" 56"));
    EXPECT_EQ(p.typedKey(QChar(8)), Action::Clear);
    EXPECT_TRUE(p.entry().isEmpty()) << "Backspace clears the whole entry";
    p.typedKey(u'7');
    EXPECT_EQ(p.typedKey(u'.'), Action::Clear);
    EXPECT_TRUE(p.entry().isEmpty());
}

TEST(ValuePad, StorableRange) {
    ValuePad p;
    EXPECT_EQ(p.storableValue(), std::optional<qint16>(0)) << "empty entry stores 0";
    pad(p, "32767");
    EXPECT_EQ(p.storableValue(), std::optional<qint16>(32767));
    pad(p, "~");
    EXPECT_EQ(p.storableValue(), std::optional<qint16>(-32767));
    p.clear();
    pad(p, "32768");
    EXPECT_FALSE(p.storableValue().has_value());
    pad(p, "~");
    EXPECT_EQ(p.storableValue(), std::optional<qint16>(-32768));
    p.clear();
    pad(p, "32769~");
    EXPECT_FALSE(p.storableValue().has_value());
}
