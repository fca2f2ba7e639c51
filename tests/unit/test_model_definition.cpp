#include <gtest/gtest.h>

#include "model/ModelDefinition.h"

#include <QFile>
#include <QTemporaryDir>

using namespace pmx;

namespace {

const QString kUtf8Sample = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a.txt");
const QString kSjisSample = QStringLiteral(PMX_TEST_DATA_DIR "/model-pmx31570a-sjis.txt");

ItemTable filledTable() {
    ItemTable t;
    t.ModelName = QStringLiteral("before");
    for (int i = 0; i < kItemCount; ++i) {
        t.ItemName[i] = QStringLiteral("old %1").arg(i);
        t.ItemSel[i] = 1;
        t.ItemData[i] = qint16(i);
    }
    return t;
}

void expectUnchanged(const ItemTable& t) {
    const ItemTable before = filledTable();
    EXPECT_EQ(t.ModelName, before.ModelName);
    EXPECT_EQ(t.ItemName, before.ItemName);
    EXPECT_EQ(t.ItemSel, before.ItemSel);
    EXPECT_EQ(t.ItemData, before.ItemData);
}

QByteArray fields(int count, const QByteArray& prefix = "n") {
    QByteArray out = "\"Model X\"\r\n";
    for (int i = 1; i < count; ++i)
        out += "\"" + prefix + QByteArray::number(i) + "\"\r\n";
    return out;
}

} // namespace

TEST(ModelDefinition, SamplesLoadInBothLanguagesAndEncodings) {
    for (bool langEng : {false, true}) {
        ItemTable fromUtf8 = filledTable();
        ItemTable fromSjis = filledTable();
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
        EXPECT_EQ(fromUtf8.ItemSel, filledTable().ItemSel);
        EXPECT_EQ(fromUtf8.ItemData, filledTable().ItemData);
    }
}

TEST(ModelDefinition, JapaneseOnlyFileIsTooShortForEnglish) {
    const QByteArray bytes = fields(kModelFieldsJapanese);
    ItemTable ja = filledTable();
    ASSERT_TRUE(readModelDefinition(bytes, false, ja).ok);
    EXPECT_EQ(ja.ModelName, QStringLiteral("Model X"));
    EXPECT_EQ(ja.ItemName[127], QStringLiteral("n128"));

    ItemTable en = filledTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::PastEnd);
    EXPECT_EQ(r.failure.field, kModelFieldsJapanese + 1);
    // Nothing changes on failure, not even the model name.
    expectUnchanged(en);

    ItemTable full = filledTable();
    ASSERT_TRUE(
        readModelDefinition(fields(kModelFieldsEnglish) + "extra,\"ignored", true, full).ok);
    EXPECT_EQ(full.ItemName[0], QStringLiteral("n129"));
}

TEST(ModelDefinition, CommasNeedQuotesAndFieldsMayShareLines) {
    QByteArray bytes = "Model, \"Alarm 1, high\",Plain, name\r\n";
    for (int i = 3; i < kItemCount - 1; ++i)
        bytes += "x\n";
    ItemTable t = filledTable();
    ASSERT_TRUE(readModelDefinition(bytes + "last", false, t).ok);
    EXPECT_EQ(t.ModelName, QStringLiteral("Model"));
    EXPECT_EQ(t.ItemName[0], QStringLiteral("Alarm 1, high"));
    EXPECT_EQ(t.ItemName[1], QStringLiteral("Plain"));
    EXPECT_EQ(t.ItemName[2], QStringLiteral("name"));
    EXPECT_EQ(t.ItemName[127], QStringLiteral("last"));
}

TEST(ModelDefinition, QuotesInUsedNamesAreRefused) {
    QList<QByteArray> lines = fields(kModelFieldsEnglish).split('\n');
    lines[140] = "Bad \"name\"\r";
    const QByteArray bytes = lines.join('\n');
    ItemTable en = filledTable();
    const ModelLoadResult r = readModelDefinition(bytes, true, en);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::QuoteInText);
    EXPECT_EQ(r.failure.line, 141);
    expectUnchanged(en);

    // The Japanese block is only passed over in the English UI, so its quote is harmless.
    lines = fields(kModelFieldsEnglish).split('\n');
    lines[5] = "Bad \"name\"\r";
    ItemTable en2 = filledTable();
    EXPECT_TRUE(readModelDefinition(lines.join('\n'), true, en2).ok);
    ItemTable ja = filledTable();
    EXPECT_FALSE(readModelDefinition(lines.join('\n'), false, ja).ok);
}

TEST(ModelDefinition, MissingFileNamesTheFile) {
    QTemporaryDir dir;
    ItemTable t = filledTable();
    const ModelLoadResult r = loadModelDefinition(dir.filePath("gone.txt"), true, t);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.kind, FieldError::CannotOpen);
    EXPECT_TRUE(r.errorText().contains(QStringLiteral("gone.txt")));
    EXPECT_TRUE(r.errorText(strings::Lang::Japanese).contains(QStringLiteral("gone.txt")));
    expectUnchanged(t);

    QFile empty(dir.filePath("empty.txt"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const ModelLoadResult e = loadModelDefinition(empty.fileName(), false, t);
    EXPECT_EQ(e.failure.kind, FieldError::PastEnd);
    EXPECT_EQ(e.failure.field, 1);
    EXPECT_EQ(e.errorText(), QStringLiteral("Cannot load empty.txt: field 1 (line 1): the file "
                                            "ends too early"));
    expectUnchanged(t);
}
