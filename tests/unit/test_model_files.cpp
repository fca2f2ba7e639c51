// The model's files: the field reader under them, table files (state and data files),
// model definitions and the application directory.
#include "TestPrinters.h"
#include "model/AppPaths.h"
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

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

// A model file of `count` fields in UTF-8: "モデル", then "名前 1", "名前 2", ...
QByteArray fields(int count) {
    QByteArray out = "\"モデル\"\r\n";
    for (int i = 1; i < count; ++i)
        out += "\"名前 " + QByteArray::number(i) + "\"\r\n";
    return out;
}

QString writeBytes(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    return f.fileName();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(FieldReader, TextFields) {
    // The text, its fields, and the failure that ends the reading, on which line.
    const std::tuple<const char*, QStringList, FieldError, int> cases[] = {
        // Blanks before a field go, blanks inside or after stay; quotes protect commas.
        {"  a b ,\t\"c, d\"\r\ne\nf", {"a b ", "c, d", "e", "f"}, FieldError::PastEnd, 3},
        {"\r\n\nx,\r\n\"\"\r\n", {"", "", "x", "", ""}, FieldError::PastEnd, 5},
        {"a\rb\r\n", {"a", "b"}, FieldError::PastEnd, 3}, // a lone CR ends a line too
        {"\"ab\" junk,c\r\n", {"ab", "c"}, FieldError::PastEnd, 2},
        {"a\r\n\"open\r\nb\"\r\n", {"a"}, FieldError::UnclosedQuote, 2},
        {"x\r\nab\"c\r\n", {"x"}, FieldError::QuoteInText, 2},
        {"\"ab\"c\"\r\n", {}, FieldError::QuoteInText, 1},
    };
    for (const auto& [text, fields, end, line] : cases) {
        SCOPED_TRACE(hexText(text));
        FieldReader reader(QString::fromLatin1(text));
        QStringList texts;
        QString field = QStringLiteral("old");
        while (reader.readText(&field))
            texts << field;
        EXPECT_EQ(texts, fields);
        EXPECT_EQ(field, fields.isEmpty() ? QStringLiteral("old") : fields.last());
        EXPECT_EQ(reader.failure().kind, end);
        EXPECT_EQ(reader.failure().line, line);
        EXPECT_FALSE(reader.errorText().isEmpty());
    }
}

TEST(FieldReader, NumbersAndSelections) {
    // The rounding under both is the Numbers tests' business; here the kinds of failure.
    constexpr auto ok = FieldError::None, range = FieldError::OutOfRange,
                   nan = FieldError::NotANumber;
    const std::tuple<const char*, qint16, FieldError> numbers[] = {
        {"-32768", -32768, ok}, {"32767", 32767, ok}, {"  +12 ", 12, ok},  {"\"-5\"", -5, ok},
        {"2.5", 2, ok},         {"1e3", 1000, ok},    {"32768", 7, range}, {"32767.5", 7, range},
        {"1e999", 7, range},    {"12abc", 7, nan},    {"", 7, nan},        {"1 2", 7, nan},
        {"1.2.3", 7, nan},      {"nan", 7, nan},      {"&HFF", 7, nan}};
    for (const auto& [text, value, error] : numbers) {
        SCOPED_TRACE(text);
        FieldReader r(QString::fromLatin1(text) + QStringLiteral("\r\n"));
        qint16 v = 7;
        EXPECT_EQ(r.readInt16(&v), error == ok);
        EXPECT_EQ(std::pair(v, r.failure().kind), std::pair(value, error));
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

// Shift_JIS files load through the same decoding in ModelDefinition's sample test.
TEST(TextCodec, Cp932SpecialsByteOrderMarksAndATailThatIsNotUtf8) {
    EXPECT_EQ(decodeText(QByteArray("\xEF\xBB\xBF\"A\"")), QStringLiteral("\"A\""));
    // 0x5C stays a backslash; NEC row 13 and the CP932 wave dash decode as Windows does.
    EXPECT_EQ(decodeText(QByteArray("\\\x87\x40\x81\x60")), QStringLiteral("\\①～"));
    // A lone UTF-16 surrogate could never be saved again; a pair is one character.
    EXPECT_EQ(decodeText(QByteArray("\xFF\xFE\xC8\xDB\x30\x30\x3D\xD8\x00\xDE", 10)),
              QStringLiteral("\uFFFD〰😀"));
    bool ok = false;
    EXPECT_EQ(encodeText(QStringLiteral("製品\r\n"), &ok), QByteArray("製品\r\n"));
    EXPECT_TRUE(ok);
    // UTF-16 with a byte-order mark, in either order. What follows the fields is ignored
    // however it reads: it must not turn Japanese names in UTF-8 into CP932. Model
    // definitions are decoded the same way.
    const QByteArray utf8 = writeOrDie(sampleTable());
    const QString text = QString::fromUtf8(utf8);
    const std::pair<const char*, QByteArray> files[] = {
        {"UTF-16LE", "\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(text)},
        {"UTF-16BE", "\xFE\xFF" + QStringEncoder(QStringEncoder::Utf16BE).encode(text)},
        {"UTF-8, then bytes that are not", utf8 + "\xFF\xFE\x80\x81\r\n\"never closed"}};
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        ItemTable t;
        const TableReadResult r = readTableFile(bytes, t, TableReadMode::AllOrNothing);
        ASSERT_TRUE(r.ok) << r.errorText().toStdString();
        expectSameStoredFields(t, sampleTable());
    }
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

    // Both read modes give the same table: the seed replays of fuzz.table_file check it.
    ItemTable loaded;
    loaded.currentItem = 9;
    const TableReadResult r = readTableFile(bytes, loaded, TableReadMode::AllOrNothing);
    ASSERT_TRUE(r.ok) << r.errorText().toStdString();
    expectSameStoredFields(loaded, original);
    EXPECT_EQ(writeOrDie(loaded), bytes);
    EXPECT_EQ(loaded.currentItem, 9); // not the file's business
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

TEST(TableFile, AFieldRunningPastTheReadLimitIsRefused) {
    // The last value goes on beyond what is read: it cannot be known, so nothing loads.
    const QByteArray file = writeOrDie(sampleTable());
    const QByteArray cut = file.left(file.lastIndexOf("\r\n", file.size() - 3) + 2); // 384 lines
    QTemporaryDir dir;
    const std::pair<QByteArray, FieldError> cases[] = {
        {cut + QByteArray(kMaxTextFileBytes, '1'), FieldError::FileTooLarge},
        {cut + "1\r\n" + QByteArray(kMaxTextFileBytes, '1'), FieldError::None},
        {QByteArray(kMaxTextFileBytes + 1, '"'), FieldError::FileTooLarge}};
    for (const auto& [bytes, kind] : cases) {
        ItemTable t = sampleTable();
        t.values[127] = 5;
        const TableReadResult r =
            loadTableFile(writeBytes(dir, "big.dat", bytes), t, TableReadMode::Partial);
        EXPECT_EQ(r.failure.kind, kind) << r.errorText().toStdString();
        EXPECT_EQ(t.values[127], kind == FieldError::None ? 1 : 5);
    }
}

TEST(StateFile, ExactNameOnlyAndACopyReplacesTheOlderOne) {
    // Loading, and keeping a copy of a file that did not load, at start-up are tested
    // through the main window.
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(keepStateFileCopy(dir.path(), &error)) << "nothing to keep is not an error";
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    ASSERT_TRUE(saveStateFile(dir.path(), sampleTable(), &error)) << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"PMX31570A.ini"});
    writeBytes(dir, "PMX31570A.ini.bak", "older copy");
    ASSERT_TRUE(keepStateFileCopy(dir.path(), &error)) << error.toStdString();
    EXPECT_EQ(readAll(dir.filePath("PMX31570A.ini.bak")), writeOrDie(sampleTable()));

    // Another spelling is not the state file, even where the file system ignores case.
    ASSERT_TRUE(QFile::rename(dir.filePath("PMX31570A.ini"), dir.filePath("pmx31570a.ini")));
    ItemTable t;
    bool found = true;
    EXPECT_TRUE(loadStateFile(dir.path(), t, nullptr, &error, &found));
    EXPECT_FALSE(found);
}

TEST(TableFile, ANameTheFileCannotHoldIsRefusedAndTheOldFileStays) {
    // A save over a directory in the way is tested through the main window's close.
    QTemporaryDir dir;
    const QString path = dir.filePath("PMX31570A.ini");
    QString error;
    ASSERT_TRUE(saveStateFile(dir.path(), sampleTable(), &error));
    const QByteArray before = readAll(path);
    for (const QString& bad : {QStringLiteral("say \"hi\""), QStringLiteral("two\r\nlines")}) {
        ItemTable t = sampleTable();
        t.names[68] = bad;
        EXPECT_FALSE(saveStateFile(dir.path(), t, &error));
        EXPECT_TRUE(error.contains(QStringLiteral("0044"))) << error.toStdString();
        t = sampleTable();
        t.modelName = bad;
        EXPECT_FALSE(saveStateFile(dir.path(), t, &error));
        EXPECT_EQ(readAll(path), before);
    }
}

TEST(TableFile, ASaveReplacesTheOldFileWholeInsteadOfWritingIntoIt) {
#ifdef Q_OS_UNIX
    // A second name for the old file (a hard link) is what any reader of the old file
    // sees: it keeps the old bytes only when the new file took the old one's place.
    QTemporaryDir dir;
    const QString path = dir.filePath("PMX31570A.ini");
    const QString other = dir.filePath("old-view");
    ItemTable first = sampleTable();
    first.modelName = QStringLiteral("first");
    QString error;
    const auto saves = {
        +[](const QString& d, const ItemTable& t, QString* e) { return saveStateFile(d, t, e); },
        +[](const QString& d, const ItemTable& t, QString* e) {
            return saveTableFile(QDir(d).filePath("PMX31570A.ini"), t, e);
        }};
    for (const auto save : saves) {
        QFile::remove(path);
        QFile::remove(other);
        ASSERT_TRUE(save(dir.path(), first, &error)) << error.toStdString();
        const QByteArray before = readAll(path);
        ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()),
                  0);
        ASSERT_TRUE(save(dir.path(), sampleTable(), &error)) << error.toStdString();
        EXPECT_EQ(readAll(path), writeOrDie(sampleTable()));
        EXPECT_EQ(readAll(other), before) << "written into the old file";
    }
#else
    GTEST_SKIP() << "hard links: Unix only";
#endif
}

TEST(AppPaths, ApplicationDirectoryItsCsvFolderAndNeverASystemProgramFolder) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/opt/pmx/bin", "/usr"})
        EXPECT_TRUE(isSystemProgramDirectory(QString::fromLatin1(dir))) << dir;
    for (const char* dir : {"/home/op/pmx", "/usr2/bin", "/work/build/bin", "/optical"})
        EXPECT_FALSE(isSystemProgramDirectory(QString::fromLatin1(dir))) << dir;
    // Every window and command-line test runs in its own $PMX31570A_HOME.
    QTemporaryDir dir;
    const QDir home(dir.filePath("home"));
    const QByteArray saved = qgetenv("PMX31570A_HOME");
    qputenv("PMX31570A_HOME", home.path().toLocal8Bit());
    EXPECT_EQ(applicationDirectory(), home.absolutePath());
    EXPECT_TRUE(ensureCsvFolder());
    EXPECT_TRUE(QFileInfo(home.filePath("csvdata")).isDir());
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
    }
}

TEST(ModelDefinition, JapaneseOnlyFileIsTooShortForEnglish) {
    const QByteArray bytes = fields(kModelFieldsJapanese);
    ItemTable ja = sampleTable();
    ASSERT_TRUE(readModelDefinition(bytes, false, ja).ok);
    EXPECT_EQ(std::pair(ja.modelName, ja.names[127]),
              std::pair(QStringLiteral("モデル"), QStringLiteral("名前 128")));

    ItemTable en = sampleTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(std::pair(r.failure.kind, r.failure.field),
              std::pair(FieldError::PastEnd, kModelFieldsJapanese + 1));
    expectSameStoredFields(en, sampleTable()); // not even the model name changes
}

TEST(ModelDefinition, QuotesOnlyHarmTheNamesOfTheLanguageInUse) {
    // A quote in an English name (line 141) or a Japanese one (line 6): the Japanese block
    // is only passed over in the English UI, the English one not even read in the Japanese.
    const std::tuple<int, bool, bool> cases[] = {
        {141, true, false}, {141, false, true}, {6, true, true}, {6, false, false}};
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
    writeBytes(dir, "empty.txt", {});
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
