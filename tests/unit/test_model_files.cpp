// The model's files: the field reader under them, table files (state and data files),
// model definitions and the application directory.
#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/FieldReader.h"
#include "model/ModelDefinition.h"
#include "model/StateFile.h"
#include "model/TableFile.h"
#include "model/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

ItemTable sampleTable() {
    ItemTable t;
    t.ModelName = QStringLiteral("PMX-31570A");
    for (int i = 0; i < kItemCount; ++i) {
        t.ItemName[i] = QStringLiteral("名前 %1").arg(i);
        t.ItemSel[i] = qint16(i % 3 == 0 ? 1 : 0);
        t.ItemData[i] = qint16(i * 257 - 16000);
    }
    t.ItemName[1] = QStringLiteral("Alarm 1, high");
    t.ItemName[2] = QString();
    t.ItemName[3] = QStringLiteral("  padded  ");
    t.ItemName[4] = QStringLiteral("予備----");
    t.ItemSel[5] = 2;
    t.ItemData[0] = -32768;
    t.ItemData[1] = 32767;
    t.ItemData[2] = -1;
    t.ItemData[3] = 0;
    return t;
}

void expectSameStoredFields(const ItemTable& a, const ItemTable& b) {
    EXPECT_EQ(a.ModelName, b.ModelName);
    EXPECT_EQ(a.ItemName, b.ItemName);
    EXPECT_EQ(a.ItemSel, b.ItemSel);
    EXPECT_EQ(a.ItemData, b.ItemData);
}

QByteArray firstLines(const QByteArray& bytes, int lines) {
    qsizetype pos = 0;
    for (int i = 0; i < lines; ++i)
        pos = bytes.indexOf("\r\n", pos) + 2;
    return bytes.left(pos);
}

QByteArray writeOrDie(const ItemTable& t) {
    QString error;
    const auto bytes = writeTableFile(t, &error);
    EXPECT_TRUE(bytes.has_value()) << error.toStdString();
    return bytes.value_or(QByteArray());
}

void expectUnchanged(const ItemTable& t) {
    expectSameStoredFields(t, sampleTable());
}

const QString kUtf8Sample = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a.txt");
const QString kSjisSample = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt");

// A model file of `count` fields: "Model X", then "n1", "n2", ...
QByteArray fields(int count) {
    QByteArray out = "\"Model X\"\r\n";
    for (int i = 1; i < count; ++i)
        out += "\"n" + QByteArray::number(i) + "\"\r\n";
    return out;
}

} // namespace

TEST(FieldReader, TextFields) {
    const struct {
        const char* text;
        QStringList fields;
        FieldError end;
        int line; // of the failure
    } cases[] = {
        // Blanks before a field go, blanks inside or after stay; quotes protect commas.
        {"  a b ,\t\"c, d\"\r\ne\nf", {"a b ", "c, d", "e", "f"}, FieldError::PastEnd, 3},
        {"\r\n\nx,\r\n\"\"\r\n", {"", "", "x", "", ""}, FieldError::PastEnd, 5},
        {"a\rb\r\n", {"a", "b"}, FieldError::PastEnd, 3}, // a lone CR ends a line too
        {"\"ab\" junk,c\r\n", {"ab", "c"}, FieldError::PastEnd, 2},
        {"a\r\n\"open\r\nb\"\r\n", {"a"}, FieldError::UnclosedQuote, 2},
    };
    for (const auto& c : cases) {
        const Fields f = readAll(QString::fromLatin1(c.text));
        EXPECT_EQ(f.texts, c.fields) << c.text;
        EXPECT_EQ(f.failure.kind, c.end) << c.text;
        EXPECT_EQ(f.failure.line, c.line) << c.text;
    }
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
    // Decimals round as selections do: halves to the even neighbour.
    const struct {
        const char* text;
        qint16 expected;
    } good[] = {{"-32768", -32768}, {"32767", 32767},      {"  +12 ", 12},       {"\"-5\"", -5},
                {"0", 0},           {"1.0", 1},            {"2.5", 2},           {"3.5", 4},
                {"-0.5", 0},        {"-1.5", -2},          {".5", 0},            {"7.", 7},
                {"1e3", 1000},      {"32767.4", 32767},    {"-32768.5", -32768}, {" 12.50 ", 12}};
    QByteArray file;
    for (const auto& c : good)
        file += QByteArray(c.text) + "\r\n";
    FieldReader reader(QString::fromLatin1(file));
    for (const auto& c : good) {
        qint16 v = 1;
        ASSERT_TRUE(reader.readInt16(&v)) << c.text << ": " << reader.errorText().toStdString();
        EXPECT_EQ(v, c.expected) << c.text;
    }
    qint16 v = 1;
    EXPECT_FALSE(reader.readInt16(&v));
    EXPECT_EQ(reader.failure().kind, FieldError::PastEnd);

    const auto refused = [](const char* text, FieldError kind) {
        FieldReader r(QString::fromLatin1(text) + QStringLiteral("\r\n"));
        qint16 value = 7;
        EXPECT_FALSE(r.readInt16(&value)) << text;
        EXPECT_EQ(r.failure().kind, kind) << text;
        EXPECT_EQ(value, 7) << text;
        QString t;
        EXPECT_FALSE(r.readText(&t)); // the first failure sticks
    };
    for (const char* text : {"32768", "-32769", "32767.5", "-32768.6", "1e5", "1e999",
                             "99999999999999999999"})
        refused(text, FieldError::OutOfRange);
    for (const char* text : {"12abc", "", "-", ".", "1 2", "&HFF", "1.2.3", "1e", "e3", "nan",
                             "inf"})
        refused(text, FieldError::NotANumber);
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

TEST(TableFile, LayoutAndExactRoundTrip) {
    const ItemTable original = sampleTable();
    const QByteArray bytes = writeOrDie(original);
    EXPECT_EQ(bytes.count("\r\n"), kTableFileLines);
    EXPECT_EQ(bytes.count('\n'), kTableFileLines);
    const QList<QByteArray> lines = bytes.split('\n');
    const std::pair<int, const char*> expected[] = {
        {0, "\"PMX-31570A\""}, {2, "\"Alarm 1, high\""}, {3, "\"\""}, {129, "1"}, {134, "2"},
        {257, "-32768"},       {258, "32767"},           {259, "-1"}};
    for (const auto& [line, text] : expected)
        EXPECT_EQ(lines[line], QByteArray(text) + '\r') << line;

    ItemTable loaded;
    loaded.CurItem = 9;
    for (TableReadMode mode : {TableReadMode::Partial, TableReadMode::AllOrNothing}) {
        const TableReadResult r = readTableFile(bytes, loaded, mode);
        ASSERT_TRUE(r.ok) << r.errorText().toStdString();
        expectSameStoredFields(loaded, original);
        EXPECT_EQ(r.selectionsRead.size(), kItemCount);
        EXPECT_EQ(writeOrDie(loaded), bytes);
    }
    EXPECT_EQ(loaded.CurItem, 9); // not the file's business
}

TEST(TableFile, FileCutAfterLine200LoadsPartiallyOrNotAtAll) {
    const ItemTable incoming = sampleTable();
    const QByteArray cut = firstLines(writeOrDie(incoming), 200);

    ItemTable old;
    old.ModelName = QStringLiteral("old");
    old.ItemSel.fill(0);
    old.ItemData.fill(42);

    ItemTable partial = old;
    TableReadResult r = readTableFile(cut, partial, TableReadMode::Partial);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::PastEnd);
    EXPECT_EQ(r.failure.line, 201);
    EXPECT_EQ(partial.ModelName, incoming.ModelName);
    EXPECT_EQ(partial.ItemName, incoming.ItemName);
    ASSERT_EQ(r.selectionsRead.size(), 71);
    EXPECT_EQ(r.selectionsRead.last(), 70);
    for (int i = 0; i < kItemCount; ++i) {
        EXPECT_EQ(partial.ItemSel[i], i <= 70 ? incoming.ItemSel[i] : 0) << i;
        EXPECT_EQ(partial.ItemData[i], 42) << i;
    }

    ItemTable whole = old;
    r = readTableFile(cut, whole, TableReadMode::AllOrNothing);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.selectionsRead.isEmpty());
    expectSameStoredFields(whole, old);
}

TEST(TableFile, BadFieldsStopWithLineNumber) {
    const QByteArray good = writeOrDie(sampleTable());
    const struct {
        int line;
        QByteArray text;
        FieldError kind;
    } cases[] = {{130, "3", FieldError::BadSelection},
                 {300, "40000", FieldError::OutOfRange},
                 {385, "7x", FieldError::NotANumber},
                 {50, "bad\"name", FieldError::QuoteInText}};
    for (const auto& c : cases) {
        QList<QByteArray> lines = good.split('\n');
        lines[c.line - 1] = c.text + '\r';
        const QByteArray bytes = lines.join('\n');
        ItemTable t;
        const TableReadResult r = readTableFile(bytes, t, TableReadMode::AllOrNothing);
        EXPECT_FALSE(r.ok) << c.line;
        EXPECT_EQ(r.failure.kind, c.kind) << c.line;
        EXPECT_EQ(r.failure.line, c.line);
        EXPECT_EQ(r.failure.field, c.line);
        EXPECT_TRUE(r.errorText().contains(QString::number(c.line)));
        EXPECT_TRUE(t.ModelName.isEmpty());
    }
}

TEST(TableFile, ShiftJisDataFileFromTheWindowsToolLoads) {
    QByteArray bytes("\"\x83\x82\x83\x66\x83\x8b\"\r\n"); // "モデル" in Shift_JIS
    for (int i = 0; i < kItemCount; ++i)
        bytes += "\"\x96\xbc" + QByteArray::number(i) + "\"\r\n"; // "名"
    for (int i = 0; i < 2 * kItemCount; ++i)
        bytes += "1\r\n";
    ItemTable t;
    const TableReadResult r = readTableFile(bytes, t, TableReadMode::AllOrNothing);
    ASSERT_TRUE(r.ok) << r.errorText().toStdString();
    EXPECT_EQ(t.ModelName, QStringLiteral("モデル"));
    EXPECT_EQ(t.ItemName[127], QStringLiteral("名127"));
}

TEST(TableFile, WriterRefusesNamesThatCannotBeStored) {
    for (const QString& bad : {QStringLiteral("say \"hi\""), QStringLiteral("two\r\nlines")}) {
        ItemTable t = sampleTable();
        t.ItemName[68] = bad;
        QString error;
        EXPECT_FALSE(writeTableFile(t, &error).has_value());
        EXPECT_TRUE(error.contains(QStringLiteral("0044"))) << error.toStdString();
        t = sampleTable();
        t.ModelName = bad;
        EXPECT_FALSE(writeTableFile(t, &error).has_value());
    }
}

TEST(StateFile, MissingFileAndExactNameOnly) {
    // Saving and loading at start-up are tested through the main window.
    QTemporaryDir dir;
    ItemTable t = sampleTable();
    QList<int> sel{5};
    QString error;
    bool found = true;
    EXPECT_TRUE(loadStateFile(dir.path(), t, &sel, &error, &found));
    EXPECT_FALSE(found);
    EXPECT_TRUE(sel.isEmpty());
    expectSameStoredFields(t, sampleTable());

    ASSERT_TRUE(saveStateFile(dir.path(), sampleTable(), &error)) << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"PMX31570A.ini"});
    ASSERT_TRUE(QFile::rename(dir.filePath("PMX31570A.ini"), dir.filePath("pmx31570a.ini")));
    EXPECT_TRUE(loadStateFile(dir.path(), t, &sel, &error, &found));
    EXPECT_FALSE(found);
}

TEST(AtomicFile, FailedWriteKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("PMX31570A.ini");
    QString error;
    const auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    };
    ASSERT_TRUE(writeFileAtomically(path, "old\r\n", &error));
    ASSERT_TRUE(writeFileAtomically(path, "new\r\n", &error));
    EXPECT_EQ(contents(), QByteArray("new\r\n"));

    // The target is a directory: no temporary file can be renamed over it (root included).
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken"));
    EXPECT_FALSE(writeFileAtomically(dir.filePath("taken"), "x", &error));
    EXPECT_TRUE(QFileInfo(dir.filePath("taken")).isDir());
    EXPECT_FALSE(error.isEmpty());

    // A refused table leaves the previous state file as it was.
    ItemTable bad = sampleTable();
    ASSERT_TRUE(saveStateFile(dir.path(), bad, &error));
    const QByteArray before = contents();
    bad.ModelName = QStringLiteral("a\"b");
    EXPECT_FALSE(saveStateFile(dir.path(), bad, &error));
    EXPECT_EQ(contents(), before);
}

TEST(AppPaths, CsvFolderIsCreatedAndABlockerIsReported) {
    // Every window and command-line test runs in its own $PMX31570A_HOME.
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QByteArray saved = qgetenv("PMX31570A_HOME");
    qputenv("PMX31570A_HOME", home.toLocal8Bit());
    EXPECT_EQ(applicationDirectory(), QDir(home).absolutePath());
    EXPECT_TRUE(ensureCsvFolder());
    EXPECT_TRUE(QFileInfo(QDir(home).filePath("csvdata")).isDir());
    QDir(home).rmdir("csvdata");
    QFile blocker(QDir(home).filePath("csvdata"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(ensureCsvFolder()); // reported, not fatal
    saved.isNull() ? qunsetenv("PMX31570A_HOME") : qputenv("PMX31570A_HOME", saved);
}

TEST(ModelDefinition, SamplesLoadInBothLanguagesAndEncodings) {
    for (bool langEng : {false, true}) {
        ItemTable fromUtf8 = sampleTable();
        ItemTable fromSjis = sampleTable();
        const ModelLoadResult a = loadModelDefinition(kUtf8Sample, langEng, fromUtf8);
        const ModelLoadResult b = loadModelDefinition(kSjisSample, langEng, fromSjis);
        ASSERT_TRUE(a.ok) << a.errorText().toStdString();
        ASSERT_TRUE(b.ok) << b.errorText().toStdString();
        EXPECT_EQ(fromUtf8.ModelName, QStringLiteral("PMX-31570A"));
        EXPECT_EQ(fromUtf8.ItemName, fromSjis.ItemName);
        EXPECT_EQ(fromUtf8.ItemName[0],
                  langEng ? QStringLiteral("Instrument status") : QStringLiteral("機器状態"));
        EXPECT_TRUE(fromUtf8.isUndefined(127));
        // A model changes names only.
        EXPECT_EQ(fromUtf8.ItemSel, sampleTable().ItemSel);
        EXPECT_EQ(fromUtf8.ItemData, sampleTable().ItemData);
    }
}

TEST(ModelDefinition, JapaneseOnlyFileIsTooShortForEnglish) {
    const QByteArray bytes = fields(kModelFieldsJapanese);
    ItemTable ja = sampleTable();
    ASSERT_TRUE(readModelDefinition(bytes, false, ja).ok);
    EXPECT_EQ(ja.ModelName, QStringLiteral("Model X"));
    EXPECT_EQ(ja.ItemName[127], QStringLiteral("n128"));

    ItemTable en = sampleTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::PastEnd);
    EXPECT_EQ(r.failure.field, kModelFieldsJapanese + 1);
    // Nothing changes on failure, not even the model name.
    expectUnchanged(en);

    ItemTable full = sampleTable();
    ASSERT_TRUE(
        readModelDefinition(fields(kModelFieldsEnglish) + "extra,\"ignored", true, full).ok);
    EXPECT_EQ(full.ItemName[0], QStringLiteral("n129"));
}

TEST(ModelDefinition, CommasNeedQuotesAndFieldsMayShareLines) {
    QByteArray bytes = "Model, \"Alarm 1, high\",Plain, name\r\n";
    for (int i = 3; i < kItemCount - 1; ++i)
        bytes += "x\n";
    ItemTable t = sampleTable();
    ASSERT_TRUE(readModelDefinition(bytes + "last", false, t).ok);
    EXPECT_EQ(
        QStringList({t.ModelName, t.ItemName[0], t.ItemName[1], t.ItemName[2], t.ItemName[127]}),
        QStringList({"Model", "Alarm 1, high", "Plain", "name", "last"}));
}

TEST(ModelDefinition, QuotesInUsedNamesAreRefused) {
    QList<QByteArray> lines = fields(kModelFieldsEnglish).split('\n');
    lines[140] = "Bad \"name\"\r";
    const QByteArray bytes = lines.join('\n');
    ItemTable en = sampleTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::QuoteInText);
    EXPECT_EQ(r.failure.line, 141);
    expectUnchanged(en);

    // The Japanese block is only passed over in the English UI, so its quote is harmless.
    lines = fields(kModelFieldsEnglish).split('\n');
    lines[5] = "Bad \"name\"\r";
    ItemTable en2 = sampleTable();
    EXPECT_TRUE(readModelDefinition(lines.join('\n'), true, en2).ok);
    ItemTable ja = sampleTable();
    EXPECT_FALSE(readModelDefinition(lines.join('\n'), false, ja).ok);
}

TEST(ModelDefinition, MissingOrEmptyFileNamesTheFile) {
    QTemporaryDir dir;
    QFile empty(dir.filePath("empty.txt"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const std::tuple<const char*, FieldError, int> cases[] = {
        {"gone.txt", FieldError::CannotOpen, 0}, {"empty.txt", FieldError::PastEnd, 1}};
    for (const auto& [name, kind, field] : cases) {
        ItemTable t = sampleTable();
        const ModelLoadResult r = loadModelDefinition(dir.filePath(name), true, t);
        EXPECT_EQ(r.failure.kind, kind) << name;
        if (field)
            EXPECT_EQ(r.failure.field, field);
        EXPECT_TRUE(r.errorText().contains(name)) << r.errorText().toStdString();
        EXPECT_TRUE(r.errorText(strings::Lang::Japanese).contains(name));
        expectUnchanged(t);
    }
}

namespace {

QByteArray utf16WithBom(const QString& text, bool little) {
    QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
    return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder.encode(text));
}

QString writeBytes(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

} // namespace

TEST(TextCodec, Utf16FilesWithAByteOrderMarkLoad) {
    const QString tableText = QString::fromUtf8(writeOrDie(sampleTable()));
    QString modelText = QStringLiteral("\"モデル\"\r\n");
    for (int i = 0; i < 2 * kItemCount; ++i)
        modelText += QStringLiteral("\"名前 %1\"\r\n").arg(i);
    for (bool little : {true, false}) {
        EXPECT_EQ(decodeText(utf16WithBom(QStringLiteral("\"A\",1"), little)),
                  QStringLiteral("\"A\",1"));
        ItemTable t;
        const TableReadResult r =
            readTableFile(utf16WithBom(tableText, little), t, TableReadMode::AllOrNothing);
        ASSERT_TRUE(r.ok) << little << ": " << r.errorText().toStdString();
        expectSameStoredFields(t, sampleTable());
        for (bool langEng : {false, true}) {
            ItemTable m;
            const ModelLoadResult mr = readModelDefinition(utf16WithBom(modelText, little), langEng, m);
            ASSERT_TRUE(mr.ok) << mr.errorText().toStdString();
            EXPECT_EQ(m.ModelName, QStringLiteral("モデル"));
            EXPECT_EQ(m.ItemName[0], langEng ? QStringLiteral("名前 128") : QStringLiteral("名前 0"));
        }
    }
}

TEST(TableFile, WhatFollowsTheFieldsIsIgnoredHoweverItReads) {
    // Japanese names in UTF-8: a tail that is not UTF-8 must not turn them into CP932.
    const QByteArray good = writeOrDie(sampleTable());
    const struct {
        const char* what;
        QByteArray tail;
    } tails[] = {{"nothing", ""},
                 {"more lines", "junk\r\n\"x\"\r\n1\r\n"},
                 {"bytes that are not UTF-8", "\xFF\xFE\x80\x81\r\n"},
                 {"an open quote", "\"never closed"},
                 {"5 MB of junk", QByteArray(5 * 1024 * 1024, '\xA5')}};
    QTemporaryDir dir;
    for (const auto& c : tails) {
        const QByteArray bytes = good + c.tail;
        for (TableReadMode mode : {TableReadMode::Partial, TableReadMode::AllOrNothing}) {
            ItemTable fromBytes;
            const TableReadResult r = readTableFile(bytes, fromBytes, mode);
            EXPECT_TRUE(r.ok) << c.what << ": " << r.errorText().toStdString();
            expectSameStoredFields(fromBytes, sampleTable());

            ItemTable fromFile;
            const TableReadResult f =
                loadTableFile(writeBytes(dir, "t.dat", bytes), fromFile, mode);
            EXPECT_TRUE(f.ok) << c.what << ": " << f.errorText().toStdString();
            expectSameStoredFields(fromFile, sampleTable());
        }
    }
}

TEST(TableFile, AFieldRunningPastTheReadLimitIsRefused) {
    // The last value goes on beyond what is read: it cannot be known, so nothing loads.
    const QByteArray cut = firstLines(writeOrDie(sampleTable()), kTableFileLines - 1);
    QTemporaryDir dir;
    const struct {
        QByteArray bytes;
        FieldError kind;
    } cases[] = {{cut + QByteArray(kMaxTextFileBytes, '1'), FieldError::FileTooLarge},
                 {cut + "1\r\n" + QByteArray(kMaxTextFileBytes, '1'), FieldError::None},
                 {QByteArray(kMaxTextFileBytes + 1, '"'), FieldError::FileTooLarge}};
    for (const auto& c : cases) {
        ItemTable t = sampleTable();
        t.ItemData[127] = 5;
        const TableReadResult r =
            loadTableFile(writeBytes(dir, "big.dat", c.bytes), t, TableReadMode::Partial);
        EXPECT_EQ(r.failure.kind, c.kind) << r.errorText().toStdString();
        EXPECT_EQ(t.ItemData[127], c.kind == FieldError::None ? 1 : 5);
    }
}

TEST(ModelDefinition, WhatFollowsTheNamesNeededIsIgnored) {
    QTemporaryDir dir;
    for (bool langEng : {false, true}) {
        const int needed = langEng ? kModelFieldsEnglish : kModelFieldsJapanese;
        QByteArray bytes = "\"モデル\"\r\n";
        for (int i = 1; i < needed; ++i)
            bytes += "\"名前 " + QByteArray::number(i) + "\"\r\n";
        for (const QByteArray& tail : {QByteArray("\x81\xFF\r\n\"open"),
                                       QByteArray(5 * 1024 * 1024, '\xA5')}) {
            ItemTable t;
            const ModelLoadResult r =
                loadModelDefinition(writeBytes(dir, "m.txt", bytes + tail), langEng, t);
            ASSERT_TRUE(r.ok) << r.errorText().toStdString();
            EXPECT_EQ(t.ModelName, QStringLiteral("モデル"));
            EXPECT_EQ(t.ItemName[127], QStringLiteral("名前 %1").arg(needed - 1));
        }
    }
}

TEST(StateFile, AFileWithJunkAfterItsFieldsLoadsAndACopyCanBeKept) {
    QTemporaryDir dir;
    const QByteArray bytes = writeOrDie(sampleTable()) + QByteArray(5 * 1024 * 1024, 'x');
    writeBytes(dir, "PMX31570A.ini", bytes);
    ItemTable t;
    QString error;
    bool found = false;
    EXPECT_TRUE(loadStateFile(dir.path(), t, nullptr, &error, &found)) << error.toStdString();
    EXPECT_TRUE(found);
    expectSameStoredFields(t, sampleTable());

    // The copy replaces an older one and holds the file byte for byte.
    writeBytes(dir, "PMX31570A.ini.bak", "older copy");
    ASSERT_TRUE(keepStateFileCopy(dir.path(), &error)) << error.toStdString();
    QFile copy(dir.filePath("PMX31570A.ini.bak"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), bytes);

    // Nothing to keep is not an error.
    QTemporaryDir empty;
    EXPECT_TRUE(keepStateFileCopy(empty.path(), &error));
    EXPECT_TRUE(QDir(empty.path()).isEmpty());
}

TEST(AtomicFile, ASaveRemovesTheTemporariesOfItsInterruptedSaves) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        bool removed;
    } files[] = {{"OUT.dat.a1B2c3", true},    {"OUT.dat.XXXXXX", true},
                 {"OUT.dat.bak", false},      {"OUT.dat.a1B2c3d", false},
                 {"OUT.dat.a1-2c3", false},   {"OTHER.dat.a1B2c3", false},
                 {"OUT.datXa1B2c3", false},   {"xOUT.dat.a1B2c3", false}};
    for (const auto& f : files)
        writeBytes(dir, f.name, "left over");
    QString error;
    ASSERT_TRUE(writeFileAtomically(dir.filePath("OUT.dat"), "new\r\n", &error))
        << error.toStdString();
    for (const auto& f : files)
        EXPECT_EQ(QFile::exists(dir.filePath(f.name)), !f.removed) << f.name;
    EXPECT_TRUE(QFile::exists(dir.filePath("OUT.dat")));
    // Only the target's own: a directory so named is left alone.
    ASSERT_TRUE(QDir(dir.path()).mkdir("OUT.dat.zzzzzz"));
    EXPECT_EQ(removeStaleTemporaries(dir.filePath("OUT.dat")), 0);
}
