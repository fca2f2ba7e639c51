// The model's files: the field reader under them, table files (state and data files),
// model definitions and the application directory.
#include "TestPrinters.h"
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

ItemTable sampleTable() {
    ItemTable t;
    t.modelName = QStringLiteral("PMX-31570A");
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("名前 %1").arg(i);
        t.selections[i] = i % 3 == 0 ? Selection::Selected : Selection::Cleared;
        t.values[i] = qint16(i * 257 - 16000);
    }
    t.names[1] = QStringLiteral("Alarm 1, high");
    t.names[2] = QString();
    t.names[3] = QStringLiteral("  padded  ");
    t.selections[5] = Selection::Partial;
    t.values[0] = -32768;
    t.values[1] = 32767;
    t.values[2] = -1;
    return t;
}

void expectSameStoredFields(const ItemTable& a, const ItemTable& b) {
    EXPECT_TRUE(a.modelName == b.modelName && a.names == b.names && a.selections == b.selections &&
                a.values == b.values);
}

QByteArray writeOrDie(const ItemTable& t) {
    QString error;
    const auto bytes = writeTableFile(t, &error);
    EXPECT_TRUE(bytes.has_value()) << error.toStdString();
    return bytes.value_or(QByteArray());
}

// `bytes` with line `line` (from 1) replaced by `text`.
QByteArray withLine(const QByteArray& bytes, int line, const QByteArray& text) {
    QList<QByteArray> lines = bytes.split('\n');
    lines[line - 1] = text + '\r';
    return lines.join('\n');
}

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
        {"x\r\nab\"c\r\n", {"x"}, FieldError::QuoteInText, 2},
        {"\"ab\"c\"\r\n", {}, FieldError::QuoteInText, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hexText(c.text));
        FieldReader reader(QString::fromLatin1(c.text));
        QStringList texts;
        QString field = QStringLiteral("old");
        while (reader.readText(&field))
            texts << field;
        EXPECT_EQ(texts, c.fields);
        EXPECT_EQ(field, c.fields.isEmpty() ? QStringLiteral("old") : c.fields.last());
        EXPECT_EQ(reader.failure().kind, c.end);
        EXPECT_EQ(reader.failure().line, c.line);
        EXPECT_FALSE(reader.errorText().isEmpty());
    }
    // Passing over a field with a quote is fine: it is never stored.
    FieldReader reader(QStringLiteral("ab\"c\r\nnext"));
    QString value;
    EXPECT_TRUE(reader.skipField() && reader.readText(&value));
    EXPECT_EQ(value, QStringLiteral("next"));
}

TEST(FieldReader, NumbersAndSelections) {
    constexpr auto ok = FieldError::None, range = FieldError::OutOfRange,
                   nan = FieldError::NotANumber;
    const struct {
        const char* text;
        qint16 value;
        FieldError error;
    } numbers[] = {{"-32768", -32768, ok},
                   {"32767", 32767, ok},
                   {"  +12 ", 12, ok},
                   {"\"-5\"", -5, ok},
                   {"32768", 7, range},
                   {"-32769", 7, range},
                   {"99999999999999999999", 7, range},
                   // Decimals round as selections do: halves to the even neighbour.
                   {"1.0", 1, ok},
                   {"1.5", 2, ok},
                   {"2.5", 2, ok},
                   {"-0.5", 0, ok},
                   {"-1.5", -2, ok},
                   {".5", 0, ok},
                   {"7.", 7, ok},
                   {"1e3", 1000, ok},
                   {"32767.4", 32767, ok},
                   {"-32768.5", -32768, ok},
                   {" 12.50 ", 12, ok},
                   {"32767.5", 7, range},
                   {"-32768.6", 7, range},
                   {"1e999", 7, range},
                   {"12abc", 7, nan},
                   {"", 7, nan},
                   {"-", 7, nan},
                   {".", 7, nan},
                   {"1 2", 7, nan},
                   {"1.2.3", 7, nan},
                   {"1e", 7, nan},
                   {"nan", 7, nan},
                   {"&HFF", 7, nan}};
    for (const auto& c : numbers) {
        SCOPED_TRACE(c.text);
        FieldReader r(QString::fromLatin1(c.text) + QStringLiteral("\r\n"));
        qint16 v = 7;
        EXPECT_EQ(r.readInt16(&v), c.error == ok);
        EXPECT_EQ(std::pair(v, r.failure().kind), std::pair(c.value, c.error));
        QString t;
        EXPECT_EQ(r.readText(&t), false) << "past the end, or the first failure sticks";
    }
    // A selection is the leading number rounded half to even; only 0, 1 and 2 are taken.
    const std::pair<const char*, qint16> selections[] = {
        {"0", 0},   {"2", 2},   {"", 0},    {"abc", 0},  {" 1 ", 1},    {"1x", 1},
        {"0.5", 0}, {"1.5", 2}, {"2.5", 2}, {"-0.4", 0}, {"\"1\"", 1},  {"0.1e1", 1},
        {"1e", 1},  {"3", -1},  {"-1", -1}, {"2.6", -1}, {"1e999", -1}, {"-0.6", -1}};
    for (const auto& [text, value] : selections) {
        SCOPED_TRACE(text);
        FieldReader r(QString::fromLatin1(text) + QStringLiteral("\r\n"));
        qint16 v = -1;
        EXPECT_EQ(r.readSelection(&v), value >= 0);
        EXPECT_EQ(v, value);
        EXPECT_EQ(r.failure().kind, value >= 0 ? FieldError::None : FieldError::BadSelection);
    }
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
    EXPECT_EQ(std::pair(bytes.count("\r\n"), bytes.count('\n')),
              std::pair(qsizetype(kTableFileLines), qsizetype(kTableFileLines)));
    const QList<QByteArray> lines = bytes.split('\n');
    const std::pair<int, const char*> expected[] = {
        {0, "\"PMX-31570A\""}, {2, "\"Alarm 1, high\""}, {3, "\"\""}, {129, "1"}, {134, "2"},
        {257, "-32768"},       {258, "32767"},           {259, "-1"}};
    for (const auto& [line, text] : expected)
        EXPECT_EQ(lines[line], QByteArray(text) + '\r') << line;

    ItemTable loaded;
    loaded.currentItem = 9;
    for (TableReadMode mode : {TableReadMode::Partial, TableReadMode::AllOrNothing}) {
        const TableReadResult r = readTableFile(bytes, loaded, mode);
        ASSERT_TRUE(r.ok) << r.errorText().toStdString();
        expectSameStoredFields(loaded, original);
        EXPECT_EQ(r.selectionsRead.size(), kItemCount);
        EXPECT_EQ(writeOrDie(loaded), bytes);
    }
    EXPECT_EQ(loaded.currentItem, 9); // not the file's business
}

TEST(TableFile, FileCutAfterLine200LoadsPartiallyOrNotAtAll) {
    const ItemTable incoming = sampleTable();
    const QByteArray bytes = writeOrDie(incoming);
    const QByteArray cut = bytes.split('\n').mid(0, 200).join('\n') + '\n';
    ItemTable old;
    old.modelName = QStringLiteral("old");
    old.values.fill(42);

    ItemTable partial = old;
    TableReadResult r = readTableFile(cut, partial, TableReadMode::Partial);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(std::pair(r.failure.kind, r.failure.line), std::pair(FieldError::PastEnd, 201));
    EXPECT_EQ(std::pair(partial.modelName, partial.names[127]),
              std::pair(incoming.modelName, incoming.names[127]));
    ASSERT_EQ(r.selectionsRead.size(), 71);
    for (int i = 0; i < kItemCount; ++i) {
        EXPECT_EQ(partial.selections[i], i <= 70 ? incoming.selections[i] : Selection::Cleared)
            << i;
        EXPECT_EQ(partial.values[i], 42) << i;
    }

    ItemTable whole = old;
    r = readTableFile(cut, whole, TableReadMode::AllOrNothing);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.selectionsRead.isEmpty());
    expectSameStoredFields(whole, old);
}

TEST(TableFile, BadFieldsStopWithLineNumber) {
    const QByteArray good = writeOrDie(sampleTable());
    const std::tuple<int, QByteArray, FieldError> cases[] = {
        {130, "3", FieldError::BadSelection},
        {300, "40000", FieldError::OutOfRange},
        {385, "7x", FieldError::NotANumber},
        {50, "bad\"name", FieldError::QuoteInText}};
    for (const auto& [line, text, kind] : cases) {
        SCOPED_TRACE(line);
        ItemTable t;
        const TableReadResult r =
            readTableFile(withLine(good, line, text), t, TableReadMode::AllOrNothing);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(std::tuple(r.failure.kind, r.failure.line, r.failure.field),
                  std::tuple(kind, line, line));
        EXPECT_TRUE(r.errorText().contains(QString::number(line)));
        EXPECT_TRUE(t.modelName.isEmpty());
    }
}

TEST(TableFile, ShiftJisDataFileLoads) {
    QByteArray bytes("\"\x83\x82\x83\x66\x83\x8b\"\r\n"); // "モデル" in Shift_JIS
    for (int i = 0; i < kItemCount; ++i)
        bytes += "\"\x96\xbc" + QByteArray::number(i) + "\"\r\n"; // "名"
    bytes += QByteArray("1\r\n").repeated(2 * kItemCount);
    ItemTable t;
    const TableReadResult r = readTableFile(bytes, t, TableReadMode::AllOrNothing);
    ASSERT_TRUE(r.ok) << r.errorText().toStdString();
    EXPECT_EQ(std::pair(t.modelName, t.names[127]),
              std::pair(QStringLiteral("モデル"), QStringLiteral("名127")));
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

    // A name the table file cannot hold is refused, and the previous state file stays.
    ASSERT_TRUE(saveStateFile(dir.path(), sampleTable(), &error));
    const QByteArray before = contents();
    for (const QString& bad : {QStringLiteral("say \"hi\""), QStringLiteral("two\r\nlines")}) {
        ItemTable t = sampleTable();
        t.names[68] = bad;
        EXPECT_FALSE(saveStateFile(dir.path(), t, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("0044"))) << error.toStdString();
        t = sampleTable();
        t.modelName = bad;
        EXPECT_FALSE(saveStateFile(dir.path(), t, &error));
        EXPECT_EQ(contents(), before);
    }
}

TEST(AppPaths, SystemProgramFoldersAreNeverTheApplicationDirectory) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/opt/pmx/bin", "/usr"})
        EXPECT_TRUE(isSystemProgramDirectory(QString::fromLatin1(dir))) << dir;
    for (const char* dir : {"/home/op/pmx", "/usr2/bin", "/work/build/bin", "/optical"})
        EXPECT_FALSE(isSystemProgramDirectory(QString::fromLatin1(dir))) << dir;
}

TEST(AppPaths, CsvFolderIsCreatedAndABlockerIsReported) {
    // Every window and command-line test runs in its own $PMX31570A_HOME.
    QTemporaryDir dir;
    const QDir home(dir.filePath("home"));
    const QByteArray saved = qgetenv("PMX31570A_HOME");
    qputenv("PMX31570A_HOME", home.path().toLocal8Bit());
    EXPECT_EQ(applicationDirectory(), home.absolutePath());
    EXPECT_TRUE(ensureCsvFolder());
    EXPECT_TRUE(home.rmdir("csvdata")) << "it was created";
    QFile blocker(home.filePath("csvdata"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(ensureCsvFolder()); // reported, not fatal
    saved.isNull() ? qunsetenv("PMX31570A_HOME") : qputenv("PMX31570A_HOME", saved);
}

TEST(ModelDefinition, SamplesLoadInBothLanguagesAndEncodings) {
    for (bool langEng : {false, true}) {
        ItemTable fromUtf8 = sampleTable();
        ItemTable fromSjis = sampleTable();
        const ModelLoadResult a = loadModelDefinition(
            QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a.txt"), langEng, fromUtf8);
        const ModelLoadResult b = loadModelDefinition(
            QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt"), langEng, fromSjis);
        ASSERT_TRUE(a.ok && b.ok) << a.errorText().toStdString() << b.errorText().toStdString();
        EXPECT_EQ(fromUtf8.modelName, QStringLiteral("PMX-31570A"));
        EXPECT_EQ(fromUtf8.names, fromSjis.names);
        EXPECT_EQ(fromUtf8.names[0],
                  langEng ? QStringLiteral("Instrument status") : QStringLiteral("機器状態"));
        EXPECT_TRUE(fromUtf8.isUndefined(127));
        // A model changes names only.
        EXPECT_TRUE(fromUtf8.selections == sampleTable().selections &&
                    fromUtf8.values == sampleTable().values);
    }
}

TEST(ModelDefinition, JapaneseOnlyFileIsTooShortForEnglish) {
    const QByteArray bytes = fields(kModelFieldsJapanese);
    ItemTable ja = sampleTable();
    ASSERT_TRUE(readModelDefinition(bytes, false, ja).ok);
    EXPECT_EQ(std::pair(ja.modelName, ja.names[127]),
              std::pair(QStringLiteral("Model X"), QStringLiteral("n128")));

    ItemTable en = sampleTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(std::pair(r.failure.kind, r.failure.field),
              std::pair(FieldError::PastEnd, kModelFieldsJapanese + 1));
    expectSameStoredFields(en, sampleTable()); // not even the model name changes

    ItemTable full = sampleTable();
    ASSERT_TRUE(
        readModelDefinition(fields(kModelFieldsEnglish) + "extra,\"ignored", true, full).ok);
    EXPECT_EQ(full.names[0], QStringLiteral("n129"));
}

TEST(ModelDefinition, CommasNeedQuotesAndQuotesOnlyHarmUsedNames) {
    QByteArray shared = "Model, \"Alarm 1, high\",Plain, name\r\n";
    shared += QByteArray("x\n").repeated(kItemCount - 4) + "last";
    ItemTable t = sampleTable();
    ASSERT_TRUE(readModelDefinition(shared, false, t).ok);
    EXPECT_EQ(QStringList({t.modelName, t.names[0], t.names[1], t.names[2], t.names[127]}),
              QStringList({"Model", "Alarm 1, high", "Plain", "name", "last"}));

    // A quote in an English name (line 141) or a Japanese one (line 6): the Japanese block
    // is only passed over in the English UI.
    const std::tuple<int, bool, bool> cases[] = {
        {141, true, false}, {6, true, true}, {6, false, false}};
    for (const auto& [line, langEng, ok] : cases) {
        SCOPED_TRACE(line);
        ItemTable table = sampleTable();
        const ModelLoadResult r = readModelDefinition(
            withLine(fields(kModelFieldsEnglish), line, "Bad \"name\""), langEng, table);
        EXPECT_EQ(r.ok, ok);
        if (!ok) {
            EXPECT_EQ(std::pair(r.failure.kind, r.failure.line),
                      std::pair(FieldError::QuoteInText, line));
            expectSameStoredFields(table, sampleTable());
        }
    }
}

TEST(ModelDefinition, MissingOrEmptyFileNamesTheFile) {
    QTemporaryDir dir;
    QFile empty(dir.filePath("empty.txt"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const std::pair<const char*, FieldError> cases[] = {{"gone.txt", FieldError::CannotOpen},
                                                        {"empty.txt", FieldError::PastEnd}};
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        ItemTable t = sampleTable();
        const ModelLoadResult r = loadModelDefinition(dir.filePath(name), true, t);
        EXPECT_EQ(r.failure.kind, kind);
        EXPECT_TRUE(r.errorText().contains(name)) << r.errorText().toStdString();
        EXPECT_TRUE(r.errorText(strings::Lang::Japanese).contains(name));
        expectSameStoredFields(t, sampleTable());
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
            const ModelLoadResult mr =
                readModelDefinition(utf16WithBom(modelText, little), langEng, m);
            ASSERT_TRUE(mr.ok) << mr.errorText().toStdString();
            EXPECT_EQ(m.modelName, QStringLiteral("モデル"));
            EXPECT_EQ(m.names[0], langEng ? QStringLiteral("名前 128") : QStringLiteral("名前 0"));
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
    const QByteArray file = writeOrDie(sampleTable());
    const QByteArray cut = file.left(file.lastIndexOf("\r\n", file.size() - 3) + 2); // 384 lines
    QTemporaryDir dir;
    const struct {
        QByteArray bytes;
        FieldError kind;
    } cases[] = {{cut + QByteArray(kMaxTextFileBytes, '1'), FieldError::FileTooLarge},
                 {cut + "1\r\n" + QByteArray(kMaxTextFileBytes, '1'), FieldError::None},
                 {QByteArray(kMaxTextFileBytes + 1, '"'), FieldError::FileTooLarge}};
    for (const auto& c : cases) {
        ItemTable t = sampleTable();
        t.values[127] = 5;
        const TableReadResult r =
            loadTableFile(writeBytes(dir, "big.dat", c.bytes), t, TableReadMode::Partial);
        EXPECT_EQ(r.failure.kind, c.kind) << r.errorText().toStdString();
        EXPECT_EQ(t.values[127], c.kind == FieldError::None ? 1 : 5);
    }
}

TEST(ModelDefinition, WhatFollowsTheNamesNeededIsIgnored) {
    QTemporaryDir dir;
    for (bool langEng : {false, true}) {
        const int needed = langEng ? kModelFieldsEnglish : kModelFieldsJapanese;
        QByteArray bytes = "\"モデル\"\r\n";
        for (int i = 1; i < needed; ++i)
            bytes += "\"名前 " + QByteArray::number(i) + "\"\r\n";
        for (const QByteArray& tail :
             {QByteArray("\x81\xFF\r\n\"open"), QByteArray(5 * 1024 * 1024, '\xA5')}) {
            ItemTable t;
            const ModelLoadResult r =
                loadModelDefinition(writeBytes(dir, "m.txt", bytes + tail), langEng, t);
            ASSERT_TRUE(r.ok) << r.errorText().toStdString();
            EXPECT_EQ(t.modelName, QStringLiteral("モデル"));
            EXPECT_EQ(t.names[127], QStringLiteral("名前 %1").arg(needed - 1));
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
    } files[] = {{"OUT.dat.a1B2c3", true},   {"OUT.dat.XXXXXX", true},  {"OUT.dat.bak", false},
                 {"OUT.dat.a1B2c3d", false}, {"OUT.dat.a1-2c3", false}, {"OTHER.dat.a1B2c3", false},
                 {"OUT.datXa1B2c3", false},  {"xOUT.dat.a1B2c3", false}};
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
