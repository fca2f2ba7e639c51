#include <gtest/gtest.h>

#include "model/FieldReader.h"
#include "model/TextCodec.h"

#include <QFile>

using namespace pmx;

namespace {
struct Fields {
    QStringList texts;
    FieldFailure failure;
};

// Reads text fields until the first failure.
Fields readAll(const QString& text) {
    FieldReader reader(text);
    Fields out;
    QString field;
    while (reader.readText(&field))
        out.texts << field;
    out.failure = reader.failure();
    return out;
}
} // namespace

TEST(FieldReader, SplitsOnCommasAndLineEnds) {
    // Blanks before a field go, blanks inside or after stay; quotes protect commas.
    const Fields f = readAll(QStringLiteral("  a b ,\t\"c, d\"\r\ne\nf"));
    EXPECT_EQ(f.texts, (QStringList{"a b ", "c, d", "e", "f"}));
    EXPECT_EQ(f.failure.kind, FieldError::PastEnd);
    EXPECT_EQ(f.failure.field, 5);
    EXPECT_EQ(f.failure.line, 3);
}

TEST(FieldReader, EmptyLinesAndTrailingCommasAreEmptyFields) {
    EXPECT_EQ(readAll(QStringLiteral("\r\n\nx,\r\n\"\"\r\n")).texts,
              (QStringList{"", "", "x", "", ""}));
    // A lone CR ends a line too, and never ends up inside a name.
    EXPECT_EQ(readAll(QStringLiteral("a\rb\r\n")).texts, (QStringList{"a", "b"}));
}

TEST(FieldReader, TextAfterClosingQuoteIsSkippedToTheSeparator) {
    EXPECT_EQ(readAll(QStringLiteral("\"ab\" junk,c\r\n")).texts, (QStringList{"ab", "c"}));
}

TEST(FieldReader, QuotedFieldMustCloseOnItsLine) {
    const Fields f = readAll(QStringLiteral("a\r\n\"open\r\nb\"\r\n"));
    EXPECT_EQ(f.texts, QStringList{"a"});
    EXPECT_EQ(f.failure.kind, FieldError::UnclosedQuote);
    EXPECT_EQ(f.failure.line, 2);
}

TEST(FieldReader, QuotesInsideTextsAreRefused) {
    for (const char* bad : {"ab\"c\r\n", "\"ab\"c\"\r\n"}) {
        FieldReader reader(QString::fromLatin1(bad));
        QString value = QStringLiteral("old");
        EXPECT_FALSE(reader.readText(&value)) << bad;
        EXPECT_EQ(reader.failure().kind, FieldError::QuoteInText) << bad;
        EXPECT_EQ(value, QStringLiteral("old"));
        EXPECT_FALSE(reader.errorText().isEmpty());
    }
    // Passing over such a field is fine: it is never stored.
    FieldReader reader(QStringLiteral("ab\"c\r\nnext"));
    QString value;
    EXPECT_TRUE(reader.skipField());
    EXPECT_TRUE(reader.readText(&value));
    EXPECT_EQ(value, QStringLiteral("next"));
}

TEST(FieldReader, Int16RangeAndForm) {
    FieldReader reader(QStringLiteral("-32768\r\n32767\r\n  +12 \r\n\"-5\"\r\n0\r\n"));
    qint16 v = 1;
    ASSERT_TRUE(reader.readInt16(&v));
    EXPECT_EQ(v, -32768);
    ASSERT_TRUE(reader.readInt16(&v));
    EXPECT_EQ(v, 32767);
    ASSERT_TRUE(reader.readInt16(&v));
    EXPECT_EQ(v, 12);
    ASSERT_TRUE(reader.readInt16(&v));
    EXPECT_EQ(v, -5);
    ASSERT_TRUE(reader.readInt16(&v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(reader.readInt16(&v));
    EXPECT_EQ(reader.failure().kind, FieldError::PastEnd);

    const struct {
        const char* text;
        FieldError kind;
    } bad[] = {{"32768", FieldError::OutOfRange},
               {"-32769", FieldError::OutOfRange},
               {"99999999999999999999", FieldError::OutOfRange},
               {"12abc", FieldError::NotANumber},
               {"1.5", FieldError::NotANumber},
               {"", FieldError::NotANumber},
               {"-", FieldError::NotANumber},
               {"1 2", FieldError::NotANumber},
               {"&HFF", FieldError::NotANumber}};
    for (const auto& c : bad) {
        FieldReader r(QString::fromLatin1(c.text) + QStringLiteral("\r\n"));
        qint16 value = 7;
        EXPECT_FALSE(r.readInt16(&value)) << c.text;
        EXPECT_EQ(r.failure().kind, c.kind) << c.text;
        EXPECT_EQ(value, 7) << c.text;
        // The first failure sticks.
        QString t;
        EXPECT_FALSE(r.readText(&t));
    }
}

TEST(FieldReader, SelectionTakesTheLeadingNumberRounded) {
    const struct {
        const char* text;
        qint16 expected;
    } good[] = {{"0", 0},     {"1", 1},   {"2", 2},     {"", 0},    {"abc", 0}, {" 1 ", 1},
                {"1x", 1},    {"0.5", 0}, {"1.5", 2},   {"2.5", 2}, {"1.4", 1}, {"-0.4", 0},
                {"\"1\"", 1}, {"1e0", 1}, {"0.1e1", 1}, {"1e", 1}};
    for (const auto& c : good) {
        FieldReader r(QString::fromLatin1(c.text) + QStringLiteral("\r\n"));
        qint16 v = -9;
        ASSERT_TRUE(r.readSelection(&v)) << c.text;
        EXPECT_EQ(v, c.expected) << c.text;
    }
    for (const char* text : {"3", "-1", "2.6", "1e9", "1e999", "-0.6"}) {
        FieldReader r(QString::fromLatin1(text));
        qint16 v = 0;
        EXPECT_FALSE(r.readSelection(&v)) << text;
        EXPECT_EQ(r.failure().kind, FieldError::BadSelection) << text;
    }
}

TEST(FieldReader, FieldLeadingNumberIgnoresBlanksAnywhere) {
    EXPECT_DOUBLE_EQ(fieldLeadingNumber(QStringLiteral(" 1 2.5x9")), 12.5);
    EXPECT_DOUBLE_EQ(fieldLeadingNumber(QStringLiteral("-3E2")), -300.0);
    EXPECT_DOUBLE_EQ(fieldLeadingNumber(QStringLiteral("1.2.3")), 1.2);
    EXPECT_DOUBLE_EQ(fieldLeadingNumber(QStringLiteral(".")), 0.0);
}

TEST(TextCodec, BomDroppedAndCp932Specials) {
    EXPECT_EQ(decodeText(QByteArray("\xEF\xBB\xBF\"A\"")), QStringLiteral("\"A\""));
    // 0x5C stays a backslash; NEC row 13 and the CP932 wave dash decode as Windows does.
    EXPECT_EQ(decodeText(QByteArray("\\\x87\x40\x81\x60")), QStringLiteral("\\①～"));
    bool ok = false;
    EXPECT_EQ(encodeText(QStringLiteral("製品\r\n"), &ok), QByteArray("製品\r\n"));
    EXPECT_TRUE(ok);
}
