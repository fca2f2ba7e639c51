#include <gtest/gtest.h>

#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/StateFile.h"
#include "model/TableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace pmx;

namespace {

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

} // namespace

TEST(TableFile, LayoutIs385CrLfLines) {
    const QByteArray bytes = writeOrDie(sampleTable());
    EXPECT_EQ(bytes.count("\r\n"), kTableFileLines);
    EXPECT_EQ(bytes.count('\n'), kTableFileLines);
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    const QList<QByteArray> lines = bytes.split('\n');
    EXPECT_EQ(lines[0], QByteArray("\"PMX-31570A\"\r"));
    EXPECT_EQ(lines[2], QByteArray("\"Alarm 1, high\"\r"));
    EXPECT_EQ(lines[3], QByteArray("\"\"\r"));
    EXPECT_EQ(lines[129], QByteArray("1\r"));
    EXPECT_EQ(lines[134], QByteArray("2\r"));
    EXPECT_EQ(lines[257], QByteArray("-32768\r"));
    EXPECT_EQ(lines[258], QByteArray("32767\r"));
    EXPECT_EQ(lines[259], QByteArray("-1\r"));
}

TEST(TableFile, RoundTripIsExact) {
    const ItemTable original = sampleTable();
    const QByteArray bytes = writeOrDie(original);
    ItemTable loaded;
    loaded.CurItem = 9;
    loaded.LangEng = false;
    for (TableReadMode mode : {TableReadMode::Partial, TableReadMode::AllOrNothing}) {
        const TableReadResult r = readTableFile(bytes, loaded, mode);
        ASSERT_TRUE(r.ok) << r.errorText().toStdString();
        expectSameStoredFields(loaded, original);
        EXPECT_EQ(r.selectionsRead.size(), kItemCount);
        EXPECT_EQ(writeOrDie(loaded), bytes);
    }
    // Fields outside the file are not the file's business.
    EXPECT_EQ(loaded.CurItem, 9);
    EXPECT_FALSE(loaded.LangEng);
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

TEST(StateFile, RoundTripExactNameOnlyAndTruncatedFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("PMX31570A.ini");
    ItemTable t = sampleTable();
    QList<int> sel{5};
    QString error;
    bool found = true;
    // Missing: nothing changes.
    EXPECT_TRUE(loadStateFile(dir.path(), t, &sel, &error, &found));
    EXPECT_FALSE(found);
    EXPECT_TRUE(sel.isEmpty());
    expectSameStoredFields(t, sampleTable());

    ASSERT_TRUE(saveStateFile(dir.path(), sampleTable(), &error)) << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"PMX31570A.ini"});
    t = ItemTable();
    ASSERT_TRUE(loadStateFile(dir.path(), t, &sel, &error, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(sel.size(), kItemCount);
    expectSameStoredFields(t, sampleTable());

    // Cut short: what it holds is loaded, and the failure says where.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(firstLines(writeOrDie(sampleTable()), 200));
    f.close();
    t = ItemTable();
    EXPECT_FALSE(loadStateFile(dir.path(), t, &sel, &error, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(sel.size(), 71);
    EXPECT_EQ(t.ItemName, sampleTable().ItemName);
    EXPECT_TRUE(error.contains(QStringLiteral("201"))) << error.toStdString();

    // Only the exact spelling counts.
    ASSERT_TRUE(QFile::rename(path, dir.filePath("pmx31570a.ini")));
    ASSERT_TRUE(loadStateFile(dir.path(), t, &sel, &error, &found));
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

    EXPECT_FALSE(writeFileAtomically(dir.filePath("no/such/dir/file"), "x", &error));
}

TEST(AppPaths, HomeVariableDecidesTheApplicationDirectory) {
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QByteArray saved = qgetenv("PMX31570A_HOME");
    qputenv("PMX31570A_HOME", home.toLocal8Bit());
    EXPECT_EQ(applicationDirectory(), QDir(home).absolutePath());
    EXPECT_TRUE(QFileInfo(home).isDir());
    EXPECT_EQ(stateFilePath(), QDir(home).filePath("PMX31570A.ini"));
    EXPECT_TRUE(ensureCsvFolder());
    EXPECT_TRUE(QFileInfo(QDir(home).filePath("csvdata")).isDir());
    EXPECT_TRUE(ensureCsvFolder()); // already there

    // A plain file in the way: reported, not fatal.
    QDir(home).rmdir("csvdata");
    QFile blocker(QDir(home).filePath("csvdata"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(ensureCsvFolder());

    if (saved.isNull())
        qunsetenv("PMX31570A_HOME");
    else
        qputenv("PMX31570A_HOME", saved);
    EXPECT_FALSE(applicationDirectory().isEmpty());
}
