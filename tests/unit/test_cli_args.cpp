// The command line's own machinery: every option in every spelling a script may use, and
// JSON that any JSON reader reads back as it was meant. A failing seed is printed;
// PMX_TEST_SEED=N replays it.
#include "CliArgs.h"
#include "JsonLine.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <gtest/gtest.h>

using namespace pmx::cli;

// Long and short names, a value after '=' or as the next word, or right after the letter,
// before or after the command: the same arguments. A value is taken whatever it looks like.
TEST(CliArgs, EveryOptionInEverySpellingGivesTheSameArguments) {
    QSet<QString> names;
    QSet<char> letters;
    for (const OptionSpec& o : optionSpecs()) {
        const QString name = QString::fromLatin1(o.name);
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(names.contains(name));
        names << name;
        if (o.letter) {
            EXPECT_FALSE(letters.contains(o.letter)) << o.letter;
            letters << o.letter;
        }
        const QString value = QStringLiteral("-1");
        const QString letter =
            o.letter ? QStringLiteral("-%1").arg(QLatin1Char(o.letter)) : QString();
        QList<QStringList> spellings;
        if (o.valued) {
            spellings << QStringList{"--" + name, value} << QStringList{"--" + name + "=" + value};
            if (o.letter)
                spellings << QStringList{letter, value} << QStringList{letter + value};
        } else {
            spellings << QStringList{"--" + name};
            if (o.letter)
                spellings << QStringList{letter};
        }
        for (const QStringList& spelling : spellings) {
            for (bool before : {true, false}) {
                const QStringList argv =
                    QStringList{"pmx31570a-cli"} +
                    (before ? spelling + QStringList{"read"} : QStringList{"read"} + spelling) +
                    QStringList{"--", "-q", "-"};
                SCOPED_TRACE(argv.join(' ').toStdString());
                Args args;
                QString error;
                ASSERT_TRUE(parseArgs(argv, &args, &error)) << error.toStdString();
                EXPECT_EQ(args.command, "read");
                EXPECT_EQ(args.positional, (QStringList{"-q", "-"})) << "after --, words only";
                EXPECT_EQ(args.given.keys(), QStringList{name});
                EXPECT_EQ(args.values(o.name), o.valued ? QStringList{value} : QStringList{});
            }
        }
    }
}

// Whatever a name holds, the line is one line and reads back as the same text.
TEST(JsonLine, AnyTextReadsBackAsItWas) {
    bool ok = false;
    quint32 seed = qEnvironmentVariable("PMX_TEST_SEED").toUInt(&ok);
    seed = ok ? seed : 20261209u;
    SCOPED_TRACE(testing::Message() << "PMX_TEST_SEED=" << seed);
    QRandomGenerator random(seed);
    const char32_t pool[] = {0x00, 0x01, 0x08,   0x09,   0x0A,   0x0D,   0x1F,
                             '"',  '\\', '/',    ' ',    'A',    'z',    '0',
                             0x7F, 0xE9, 0x2028, 0x3042, 0x30AB, 0xFFFD, 0x1F600};
    for (int run = 0; run < 500; ++run) {
        QString text;
        for (int n = int(random.bounded(0, 24)); n > 0; --n) {
            const char32_t c = pool[random.bounded(int(std::size(pool)))];
            text += QString::fromUcs4(&c, 1);
        }
        const qint64 number = qint64(random.bounded(-32768, 32768));
        const QString line =
            JsonLine().addText("name", text).addNumber("value", number).addNull("device").text();
        ASSERT_FALSE(line.contains('\n') || line.contains('\r')) << line.toStdString();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        ASSERT_TRUE(doc.isObject()) << line.toStdString() << error.errorString().toStdString();
        const QJsonObject o = doc.object();
        EXPECT_EQ(o["name"].toString(), text);
        EXPECT_EQ(o["value"].toInteger(), number);
        EXPECT_TRUE(o["device"].isNull());
    }
}
